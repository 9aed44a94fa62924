#include "commandline.h"

#include "mediumcheck.h"
#include "mediumhistory.h"
#include "mediumwriter.h"
#include "packageinfo.h"
#include "platform.h"
#include "utils.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>

namespace MediumCommand {

namespace {

const char kUsageCodes[] =
    "  2  bad arguments\n"
    "  3  a folder or file named on the command line is not there, is of another\n"
    "     kind or cannot be read\n";

const char kPrepareHelp[] =
    "korvello-medium prepare DIR [--force]\n"
    "\n"
    "Lays out a medium in DIR, the folder that stands for the medium's mount\n"
    "point: DIR/run/ with the reference scripts backup_script.sh,\n"
    "recover_script.sh and upgrade_script.sh, executable. Nothing else on the\n"
    "medium is touched. A script already there that differs from the reference\n"
    "(an edited DATA_DIR) is kept and named, unless --force replaces it.\n";
const char kPrepareCodes[] = "  0  the scripts are in place (a run that changes nothing says so)\n"
                             "  1  the medium could not be written\n";
const char kPrepareLaterCodes[] = "  4  a script that differs from the reference was kept\n";

const char kPackHelp[] =
    "korvello-medium pack-upgrade --version V --payload DIR [--hook FILE] MEDIUM\n"
    "korvello-medium pack-upgrade --version V --payload DIR [--hook FILE] --output FILE\n"
    "\n"
    "Writes MEDIUM/run/upgrade/update-V.tar, or FILE, and its side file (.md5)\n"
    "in md5sum's form (digest, two blanks, name). Both appear under their final\n"
    "names only once complete. The device cuts the version from the name: give\n"
    "FILE the name update-V.tar before it goes onto a medium.\n"
    "\n"
    "  --version V   the version the device's version file reads after the\n"
    "                upgrade; begins with V (V1.2.3)\n"
    "  --payload DIR what goes onto the device's \"/\": DIR/usr/bin/app becomes\n"
    "                /usr/bin/app. Stored as payload/ in the package; must not\n"
    "                hold etc/version.cfg\n"
    "  --hook FILE   optional; stored as install.sh and run by sh in the\n"
    "                device's \"/\" after the payload is in place\n"
    "The layout is the one medium/upgrade_script.sh describes in its header.\n";
const char kLogHelp[] =
    "korvello-medium log MEDIUM [--snum S] [--json]\n"
    "\n"
    "Prints the history the reference scripts keep on the medium, one run a\n"
    "line: the time (UTC), the job, its exit code and reason, the bytes it moved\n"
    "and the seconds it took, and its arguments. A line torn by a power cut is\n"
    "counted and skipped. --snum picks the device (default: the environment\n"
    "variable snum); --json prints the same as one JSON document.\n";
const char kLogCodes[] = "  0  the history was read (or there is none)\n";
const char kInfoHelp[] =
    "korvello-medium info FILE [--device-root DIR]\n"
    "\n"
    "Describes one upgrade package as the device and the reference upgrade\n"
    "script judge it: whether the device lists its name and the version it cuts\n"
    "from it, its digest against its side file FILE.md5, and its layout\n"
    "(payload/, install.sh, no \"..\", no etc/version.cfg). With --device-root,\n"
    "a copy of a device's \"/\", also the files of that device its payload\n"
    "would replace, and the first conflict the upgrade script would refuse it\n"
    "on, with that script's exit code. Writes nothing.\n";
const char kInfoCodes[] = "  0  the device and the reference script would install it\n"
                          "  1  they would not: the name, the checksum, the layout or the "
                          "device\n";
const char kPackCodes[] = "  0  the package and its side file were written\n"
                          "  1  they could not be written, or the payload carries "
                          "etc/version.cfg\n";

const char kCheckHelp[] =
    "korvello-medium check MEDIUM [--snum S] [--version-file F] [--json]\n"
    "                             [--job backup,restore,upgrade] [--strict]\n"
    "                             [--device-root DIR]\n"
    "\n"
    "Prints what the device would do with the medium in MEDIUM, job by job, and\n"
    "why, by the device's own rules: the next backup index and the file names\n"
    "the backup must write; which backup a restoration takes and why each newer\n"
    "one is passed over; which upgrade package is taken, whether its checksum\n"
    "holds and whether the device already runs its version. Then warns about\n"
    "more than one package, \"._\" files, side files in upper case or with a\n"
    "byte-order mark, archives of 4 GiB or more on FAT, and scripts without\n"
    "their execute bit. Writes nothing.\n"
    "\n"
    "  --snum S          the device serial (default: the environment variable\n"
    "                    snum, as on the device; empty when unset)\n"
    "  --version-file F  a copy of the device's /etc/version.cfg; its first line\n"
    "                    is read exactly as the device reads it\n"
    "  --json            the whole report as one JSON document, in the form that\n"
    "                    share/korvello/check-report.schema.json describes\n"
    "  --job LIST        only these jobs count for the exit code\n"
    "  --strict          warnings count for the exit code too\n"
    "  --device-root DIR a copy of the device's \"/\": the upgrade and the\n"
    "                    restoration are judged against it as the reference\n"
    "                    scripts judge the device before they change it (file\n"
    "                    or folder in the way, a link, a folder that cannot be\n"
    "                    written, the version file, room, the data folder)\n"
    "\n"
    "The decision lines keep their form for scripts: \"next index: N\",\n"
    "\"restores: NAME (index N)\" or \"restores: nothing\", \"takes: NAME\" or\n"
    "\"takes: nothing\", \"checksum: holds|fails\", \"already installed: yes|no|unknown\".\n"
    "QT_LOGGING_RULES=default.debug=true also shows the device code's debug lines.\n";
const char kCheckCodes[] =
    "  0  every job counted runs its script or ends on its success note\n"
    "  1  a job counted would end on another note (the medium alone decides it)\n";
const char kCheckLaterCodes[]
    = "  4  with --strict: no job counted fails, but there are warnings\n";

// One command's options and positional arguments, as Qt's parser read them.
using Parsed = QCommandLineParser;

int badArguments(QTextStream &err, const QString &command, const QString &error)
{
    err << "korvello-medium " << command << ": " << error << "\n"
        << "Try \"korvello-medium " << command << " --help\".\n";
    return kBadArguments;
}

// A path named on the command line that is missing, of the wrong kind or unreadable.
int missing(QTextStream &err, const QString &command, const QString &path, const char *what)
{
    const QFileInfo info(path);
    const bool absent = !info.exists() && !info.isSymLink();
    const QString problem
        = QString::fromLatin1(absent ? "no such %1" : "not a %1 that can be read").arg(what);
    err << "korvello-medium " << command << ": " << MediumCheck::shown(path) << ": " << problem
        << "\n";
    return kMissing;
}

bool isFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

bool isReadableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

// The one path a command reads: *path set and kDone when it is there and of
// its kind, else the exit code with its message.
int onePath(const Parsed &parsed, QTextStream &err, const QString &command, const char *what,
            QString *path)
{
    if (parsed.positionalArguments().size() != 1)
        return badArguments(err, command, QStringLiteral("give exactly one %1").arg(what));
    *path = parsed.positionalArguments().first();
    const bool folder = QByteArray(what).endsWith("folder");
    if (folder ? isFolder(*path) : isReadableFile(*path))
        return kDone;
    return missing(err, command, *path, folder ? "folder" : "file");
}

int finish(QTextStream &out, QTextStream &err, const QString &command,
           const MediumWriter::Result &result)
{
    if (!result.ok) {
        err << "korvello-medium " << command << ": " << result.error << "\n";
        return kFailed;
    }
    for (const QString &path : result.written)
        out << "wrote " << MediumCheck::shown(path) << "\n";
    for (const QString &path : result.kept)
        out << "kept " << MediumCheck::shown(path)
            << ": it differs from the reference script (--force replaces it)\n";
    if (result.written.isEmpty() && result.kept.isEmpty())
        out << "nothing to change: the medium already holds the reference scripts\n";
    return result.kept.isEmpty() ? kDone : kKept;
}

int prepare(const Parsed &parsed, QTextStream &out, QTextStream &err)
{
    const QString command = QStringLiteral("prepare");
    QString medium;
    if (const int code = onePath(parsed, err, command, "folder", &medium))
        return code;
    return finish(out, err, command,
                  MediumWriter::prepare(medium, parsed.isSet(QStringLiteral("force"))));
}

int packUpgrade(const Parsed &parsed, QTextStream &out, QTextStream &err)
{
    const QString command = QStringLiteral("pack-upgrade");
    const QString output = parsed.value(QStringLiteral("output"));
    if (parsed.positionalArguments().size() != (output.isEmpty() ? 1 : 0))
        return badArguments(err, command,
                            QStringLiteral("give exactly one medium folder or --output FILE"));
    const QString version = parsed.value(QStringLiteral("version"));
    const QString payload = parsed.value(QStringLiteral("payload"));
    if (version.isEmpty() || payload.isEmpty())
        return badArguments(err, command, QStringLiteral("--version and --payload are required"));
    if (MediumWriter::packageName(version).isEmpty())
        return badArguments(err, command,
                            QStringLiteral("%1 cannot be a package version: it must begin with V "
                                           "and hold no \"/\" or line end")
                                .arg(MediumCheck::shown(version)));
    if (!isFolder(payload))
        return missing(err, command, payload, "folder");
    const QString hook = parsed.value(QStringLiteral("hook"));
    if (!hook.isEmpty() && !isReadableFile(hook))
        return missing(err, command, hook, "file");
    if (!output.isEmpty())
        return finish(out, err, command,
                      MediumWriter::packUpgradeTo(version, payload, output, hook));
    const QString medium = parsed.positionalArguments().first();
    if (!isFolder(medium))
        return missing(err, command, medium, "folder");
    return finish(out, err, command, MediumWriter::packUpgrade(version, payload, medium, hook));
}

// --device-root, optional: a copy of a device's "/".
int deviceRootOf(const Parsed &parsed, QTextStream &err, const QString &command, QString *root)
{
    *root = parsed.value(QStringLiteral("device-root"));
    if (!root->isEmpty() && !isFolder(*root))
        return missing(err, command, *root, "folder");
    return kDone;
}

int info(const Parsed &parsed, QTextStream &out, QTextStream &err)
{
    const QString command = QStringLiteral("info");
    QString package;
    if (const int code = onePath(parsed, err, command, "package file", &package))
        return code;
    QString deviceRoot;
    if (const int code = deviceRootOf(parsed, err, command, &deviceRoot))
        return code;
    const PackageInfo::Info found = PackageInfo::inspect(package, deviceRoot);
    out << PackageInfo::render(found, deviceRoot);
    return found.ok() ? kDone : kFailed;
}

// The jobs --job names; all three when it is not given. Empty on a bad name.
QVector<MediumCheck::Job> countedJobs(const Parsed &parsed, QString *error)
{
    if (!parsed.isSet(QStringLiteral("job")))
        return {std::begin(MediumCheck::kJobs), std::end(MediumCheck::kJobs)};
    QVector<MediumCheck::Job> jobs;
    const QString names = parsed.value(QStringLiteral("job"));
    for (const QString &name : names.split(QLatin1Char(','))) {
        const auto *found = std::find_if(
            std::begin(MediumCheck::kJobs), std::end(MediumCheck::kJobs),
            [&name](MediumCheck::Job job) { return name == QLatin1String(jobName(job)); });
        if (found == std::end(MediumCheck::kJobs)) {
            *error = QStringLiteral("no job %1 (backup, restore, upgrade)")
                         .arg(MediumCheck::shown(name));
            return {};
        }
        jobs << *found;
    }
    return jobs;
}

QString serial(const Parsed &parsed)
{
    const QString option = QStringLiteral("snum");
    return parsed.isSet(option) ? parsed.value(option) : Platform::deviceSerial();
}

int showLog(const Parsed &parsed, QTextStream &out, QTextStream &err)
{
    const QString command = QStringLiteral("log");
    QString medium;
    if (const int code = onePath(parsed, err, command, "medium folder", &medium))
        return code;
    const MediumHistory::History history = MediumHistory::read(medium, serial(parsed));
    if (parsed.isSet(QStringLiteral("json")))
        out << QString::fromUtf8(
            QJsonDocument(MediumHistory::toJson(history)).toJson(QJsonDocument::Indented));
    else
        out << MediumHistory::render(history, medium);
    return kDone;
}

int checkExitCode(const MediumCheck::Report &report, const QVector<MediumCheck::Job> &jobs,
                  bool strict)
{
    for (MediumCheck::Job job : jobs) {
        if (MediumCheck::outcome(report, job).failure)
            return kJobFails;
    }
    return strict && !report.warnings.isEmpty() ? kWarnings : kDone;
}

int check(const Parsed &parsed, QTextStream &out, QTextStream &err)
{
    const QString command = QStringLiteral("check");
    MediumCheck::Options options;
    if (const int code = onePath(parsed, err, command, "medium folder", &options.medium))
        return code;
    QString error;
    const QVector<MediumCheck::Job> jobs = countedJobs(parsed, &error);
    if (!error.isEmpty())
        return badArguments(err, command, error);
    options.snum = serial(parsed);
    options.versionKnown = parsed.isSet(QStringLiteral("version-file"));
    options.versionFile = parsed.value(QStringLiteral("version-file"));
    if (options.versionKnown && !isReadableFile(options.versionFile))
        return missing(err, command, options.versionFile, "file");
    if (const int code = deviceRootOf(parsed, err, command, &options.deviceRoot))
        return code;
    const MediumCheck::Report report = MediumCheck::inspect(options);
    const int code = checkExitCode(report, jobs, parsed.isSet(QStringLiteral("strict")));
    if (!parsed.isSet(QStringLiteral("json"))) {
        out << MediumCheck::render(report);
        return code;
    }
    QJsonObject document = MediumCheck::toJson(report);
    document.insert(QStringLiteral("exitCode"), code);
    out << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
    return code;
}

struct Command
{
    const char *name;
    const char *help;
    const char *codes;      // 0 and 1
    const char *laterCodes; // after the common 2 and 3
    QStringList valueOptions;
    QStringList flags;
    int (*handler)(const Parsed &, QTextStream &, QTextStream &);
};

const QVector<Command> &commands()
{
    static const QVector<Command> table = {
        {"prepare",
         kPrepareHelp,
         kPrepareCodes,
         kPrepareLaterCodes,
         {},
         {QStringLiteral("force")},
         prepare},
        {"pack-upgrade",
         kPackHelp,
         kPackCodes,
         "",
         {QStringLiteral("version"), QStringLiteral("payload"), QStringLiteral("hook"),
          QStringLiteral("output")},
         {},
         packUpgrade},
        {"info", kInfoHelp, kInfoCodes, "", {QStringLiteral("device-root")}, {}, info},
        {"log",
         kLogHelp,
         kLogCodes,
         "",
         {QStringLiteral("snum")},
         {QStringLiteral("json")},
         showLog},
        {"check",
         kCheckHelp,
         kCheckCodes,
         kCheckLaterCodes,
         {QStringLiteral("snum"), QStringLiteral("version-file"), QStringLiteral("job"),
          QStringLiteral("device-root")},
         {QStringLiteral("json"), QStringLiteral("strict")},
         check},
    };
    return table;
}

const Command *findCommand(const QString &name)
{
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// The command's own options, and -h/--help. Single-dash words read as long
// options (-snum as --snum): the only short one is -h.
void addOptions(Parsed &parser, const Command &command)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const QString &name : command.valueOptions)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    for (const QString &name : command.flags)
        parser.addOption(QCommandLineOption(name));
}

// Qt's message in this tool's words: Qt names an unknown option without its
// dashes and ends on a full stop ("Unknown option 'snm'."). A word reads as
// a long option (-snm as --snm) and is named so; a letter keeps its one dash.
QString parseError(const Parsed &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString name = unknown.first();
        return QStringLiteral("unknown option %1%2")
            .arg(QLatin1String(name.size() == 1 ? "-" : "--"), MediumCheck::shown(name));
    }
    QString text = MediumCheck::shown(parser.errorText());
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.left(1).toLower() + text.mid(1);
}

} // namespace

QString usage()
{
    return QStringLiteral(
        "korvello-medium COMMAND ...\n"
        "\n"
        "Prepares and checks a maintenance medium on the host, by the same rules\n"
        "as the device's tool.\n"
        "\n"
        "  prepare DIR                                      lay out run/ with the scripts\n"
        "  pack-upgrade --version V --payload DIR MEDIUM    write an upgrade package\n"
        "  check MEDIUM [--snum S] [--version-file F]       what the device would do\n"
        "  info FILE [--device-root DIR]                    one upgrade package\n"
        "  log MEDIUM [--snum S] [--json]                   the scripts' history\n"
        "  help [COMMAND]                                   this text, or a command's\n"
        "  --version                                        the build stamp\n"
        "\n"
        "Each command's help lists its exit codes; 2 is always bad arguments.\n");
}

QString commandHelp(const QString &name)
{
    const Command *command = findCommand(name);
    if (!command)
        return QString();
    return QString::fromLatin1(command->help) + QStringLiteral("\nExit codes:\n")
           + QString::fromLatin1(command->codes) + QString::fromLatin1(kUsageCodes)
           + QString::fromLatin1(command->laterCodes);
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString first = arguments.value(0);
    if (first.isEmpty()) {
        err << usage();
        return kBadArguments;
    }
    if (first == QLatin1String("--version")) {
        out << "korvello-medium " << Utils::getVerStr() << "\n";
        return kDone;
    }
    if (first == QLatin1String("help") || first == QLatin1String("--help")
        || first == QLatin1String("-h")) {
        const QString topic = arguments.value(1);
        if (topic.isEmpty()) {
            out << usage();
            return kDone;
        }
        if (!findCommand(topic))
            return badArguments(err, QStringLiteral("help"),
                                QStringLiteral("no command %1").arg(MediumCheck::shown(topic)));
        out << commandHelp(topic);
        return kDone;
    }
    const Command *command = findCommand(first);
    if (!command) {
        err << "korvello-medium: unknown command " << MediumCheck::shown(first) << "\n"
            << "Try \"korvello-medium help\".\n";
        return kBadArguments;
    }
    Parsed parsed;
    addOptions(parsed, *command);
    // Qt's parser takes the program's name first.
    if (!parsed.parse(QStringList(QStringLiteral("korvello-medium")) + arguments.mid(1)))
        return badArguments(err, first, parseError(parsed));
    if (parsed.isSet(QStringLiteral("help"))) {
        out << commandHelp(first);
        return kDone;
    }
    return command->handler(parsed, out, err);
}

} // namespace MediumCommand
