#include "testdevice.h"

#include "filenames.h"
#include "mediumlayout.h"
#include "platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMutex>
#include <QProcess>
#include <QTextCodec>
#include <QVariant>

#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Empty when no temporary directory could be made.
QString guardRoot()
{
    static QTemporaryDir dir;
    return dir.isValid() ? dir.path() + QStringLiteral("/guard-root") : QString();
}

int sReboots = 0;

QMutex sLogMutex;
QStringList sLogLines;
QList<qint64> sLogTimes;
QElapsedTimer sLogClock;
QtMessageHandler sPassOn = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&sLogMutex);
        sLogLines << message;
        sLogTimes << sLogClock.elapsed();
    }
    if (sPassOn)
        sPassOn(type, context, message);
}

QString made(const QString &folder)
{
    QDir().mkpath(folder);
    return folder;
}

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                       | QFile::ExeOther;

// What a recording script does, by Does; %v stands for the version file.
const char *const kBodies[] = {
    "tar -cf \"$b.tar\" -C \"${0%/*}\" \"${0##*/}\"",
    "(cd \"${b%/*}\" && md5sum \"${b##*/}.tar\") > \"$b.md5\"",
    "mkfifo \"$b.md5\"",
    "head -c 1073741824 /dev/zero | tr '\\000' y",
    "head -c 20000000 /dev/zero | tr '\\000' x; printf '\\nlast\\n'\n"
    "head -c 150000000 /dev/zero >&2",
    "printf 'a\\n完成\\n%s\\n' \"$snum\"; echo oops >&2; cat; printf 'x\\000y\\nz\\n'",
    "kill -KILL $$",
};

// The other script files, by ScriptFile from Missing on.
const char *const kScriptFiles[] = {"", "#!/bin/sh\nexit 0\n", "#!/bin/sh\r\nexit 0\r\n",
                                    "#!/nonexistent/sh\nexit 0\n", "#!/dev/null\nexit 0\n",
                                    "\x7f" "ELF"};

void layScript(const TestDevice &device, const QString &path, ScriptFile file)
{
    QFile reference(QStringLiteral(KORVELLO_SOURCE_DIR "/medium/") + QFileInfo(path).fileName());
    const bool edited = file == ScriptFile::Edited; // as an engineer does, to the same size
    if (file == ScriptFile::Folder)
        QDir().mkpath(path);
    else if ((file == ScriptFile::Reference || edited) && reference.open(QIODevice::ReadOnly))
        device.writeFile(path, reference.readAll().replace(
                                   "DATA_DIR=/data", edited ? "DATA_DIR=/srv1" : "DATA_DIR=/data"));
    else if (file != ScriptFile::Missing)
        device.writeFile(path, kScriptFiles[int(file) - 1]
                                   + QByteArray(file == ScriptFile::ElfJunk ? 60 : 0, 'j'));
    if (file != ScriptFile::NotExecutable && file != ScriptFile::Missing)
        QFile::setPermissions(path, kExecutable);
}

// The side file's text as `spoil` has it, from md5sum's line.
QByteArray spoiltLine(const QByteArray &line, Spoil spoil)
{
    const QByteArray texts[] = {
        line, "0123456789abcdef0123456789abcdef  x\n", line.toUpper(), line.left(32),
        line.trimmed() + "\r\n", QTextCodec::codecForName("UTF-16LE")->fromUnicode(
                                      QChar(QChar::ByteOrderMark) + QString::fromLatin1(line))};
    return spoil <= Spoil::Utf16 ? texts[int(spoil)] : line;
}

void replaceSideFile(const TestDevice &device, const QString &side, Spoil spoil)
{
    const QString away = device.elsewhere() + QLatin1Char('/') + QFileInfo(side).fileName();
    if (spoil == Spoil::OffMedium)
        QFile::rename(side, away);
    QFile::remove(side);
    if (spoil == Spoil::Fifo)
        mkfifo(QFile::encodeName(side).constData(), 0644);
    else if (spoil == Spoil::DevZero)
        QFile::link(QStringLiteral("/dev/zero"), side);
    else if (spoil == Spoil::KernelFile) // regular, never blocks, never ends
        QFile::link(QStringLiteral("/proc/self/pagemap"), side);
    else if (spoil == Spoil::OffMedium)
        QFile::link(away, side);
    else if (spoil == Spoil::Nul256MiB)
        QFile::resize(device.writeFile(side, QByteArray()), Q_INT64_C(256) << 20); // sparse
    else if (spoil == Spoil::X96MiB)
        QProcess::execute("sh", {"-c", "head -c 96M /dev/zero | tr '\\000' x > \"$0\"", side});
}

// An archive or package with its side file, then spoilt.
void layPair(const TestDevice &device, const QString &data, const QString &side, Spoil spoil)
{
    const QString name = QFileInfo(data).fileName();
    const QString made = spoil == Spoil::LinkedOff ? device.elsewhere() + '/' + name : data;
    if (spoil == Spoil::Folder) {
        QDir().mkpath(data);
        return;
    }
    TestSupport::makeTar(made, name.toUtf8());
    device.writeFile(side, spoiltLine(TestSupport::md5sumLine(made), spoil));
    if (spoil == Spoil::LinkedOff)
        QFile::link(made, data);
    else if (spoil == Spoil::Dataless)
        QFile::link(QStringLiteral("/dev/zero"), side.chopped(4) + ".tar");
    else if (spoil == Spoil::SideFileOnly)
        QFile::remove(data);
    else if (spoil == Spoil::Truncated)
        QFile::resize(data, QFileInfo(data).size() / 2);
    else if (spoil == Spoil::NoSideFile || (spoil >= Spoil::Fifo && spoil <= Spoil::X96MiB))
        replaceSideFile(device, side, spoil);
}

QString jsonType(const QJsonValue &value)
{
    static const char *const names[] = {"null", "boolean", "number", "string", "array", "object"};
    if (value.isDouble() && value.toDouble() == std::floor(value.toDouble()))
        return QStringLiteral("integer");
    return QLatin1String(names[qMin(int(value.type()), 5)]);
}

} // namespace

TestDevice::TestDevice()
{
    Platform::setRootPath(mDir.path());
    writeFile(elsewhere() + QStringLiteral("/keep.txt"), "kept\n");
}

TestDevice::~TestDevice()
{
    Platform::setRootPath(guardRoot());
}

QString TestDevice::medium(int devType) const
{
    return made(root() + QLatin1String(devType == 1 ? DevicePaths::kSdCardRoot
                                                    : DevicePaths::kUsbRoot));
}

QString TestDevice::runDir(int devType) const
{
    return made(MediumLayout::runFolder(medium(devType)));
}

QString TestDevice::writeFile(const QString &path, const QByteArray &content) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

QString TestDevice::writeScript(const QString &path, const QString &body) const
{
    writeFile(path, QByteArrayLiteral("#!/bin/sh\n") + body.toUtf8() + '\n');
    QFile::setPermissions(path, kExecutable);
    return path;
}

QStringList TestDevice::recordedArguments(const QString &scriptName) const
{
    QFile file(root() + QStringLiteral("/args-") + scriptName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    // Read as names are: bytes that are not UTF-8 come back as they went.
    const QByteArray lines = file.readAll();
    return QString::fromLocal8Bit(lines.left(lines.size() - 1)).split(QLatin1Char('\n'));
}

QString TestDevice::versionFile() const
{
    return root() + QLatin1String(DevicePaths::kVersionFile);
}

void TestDevice::lay(const Medium &medium, const QString &snum) const
{
    for (const Medium::Step &step : medium.mSteps)
        step(*this, snum);
}

Script Script::writes(Does does) const
{
    Script script = *this;
    script.body << QString::fromUtf8(kBodies[int(does)]);
    return script;
}

Script Script::setsVersion(const QString &version) const
{
    Script script = *this;
    script.body << QStringLiteral("printf '%s\\n' '%1' > '%v'").arg(version);
    return script;
}

Medium &Medium::then(const Step &step)
{
    mSteps << step;
    return *this;
}

Medium &Medium::lay(const Medium &after)
{
    mSteps << after.mSteps;
    return *this;
}

Medium &Medium::script(Job job, const Script &script)
{
    const QString name = QLatin1String(MediumLayout::scriptName(job));
    return then([=](const TestDevice &device, const QString &) {
        if (script.file != ScriptFile::Recording)
            return layScript(device, device.runDir() + '/' + name, script.file);
        // Records its arguments, one per line, where recordedArguments() reads them.
        const QString record = "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + device.root()
                               + "/args-" + name + "'\nb=\"$4/data-$1/data-$1-$2-$3\"\n";
        device.writeScript(device.runDir() + '/' + name,
                           (record + script.body.join('\n') + "\nexit %1").arg(script.exitCode)
                               .replace(QLatin1String("%v"), device.versionFile()));
    });
}

Medium &Medium::backup(const QString &stamp, qint64 index, Spoil spoil)
{
    return backupNamed(QStringLiteral("data-%SNUM-%1-%2.tar").arg(stamp).arg(index), spoil);
}

// Each archive is paired with the side file of its base name.
Medium &Medium::backupNamed(const QString &fileName, Spoil spoil)
{
    return then([=](const TestDevice &device, const QString &snum) {
        const QString base = MediumLayout::deviceFolder(device.medium(), snum) + '/'
                             + QString(fileName).replace(QLatin1String("%SNUM"), snum);
        layPair(device, base, base.section('/', 0, -2) + '/'
                                   + base.section('/', -1).section('.', 0, 0) + ".md5", spoil);
    });
}

Medium &Medium::package(const QString &fileName, Spoil spoil)
{
    return then([=](const TestDevice &device, const QString &) {
        const QString path = MediumLayout::packageFolder(device.medium()) + '/' + fileName;
        layPair(device, path, MediumLayout::packageSideFile(path), spoil);
    });
}

Medium &Medium::version(const QByteArray &text)
{
    return then([=](const TestDevice &device, const QString &) { device.writeVersionFile(text); });
}

Medium &Medium::at(const QString &path, const PathStep &make)
{
    return then([=](const TestDevice &device, const QString &) {
        QDir().mkpath(QFileInfo(device.medium() + '/' + path).path());
        make(device, device.medium() + '/' + path);
    });
}

Medium &Medium::file(const QString &path, const QByteArray &content)
{
    return at(path, [=](const TestDevice &device, const QString &to) {
        device.writeFile(to, content);
    });
}

Medium &Medium::dir(const QString &path)
{
    return at(path, [](const TestDevice &, const QString &to) { QDir().mkpath(to); });
}

Medium &Medium::link(const QString &path, const QString &target)
{
    return at(path, [=](const TestDevice &, const QString &to) { QFile::link(target, to); });
}

// The device's root holds elsewhere/ and nothing named "nowhere".
Medium &Medium::link(const QString &path, Off target)
{
    return at(path, [=](const TestDevice &device, const QString &to) {
        QFile::link(device.root() + (target == Elsewhere ? "/elsewhere" : "/nowhere"), to);
    });
}

namespace TestSupport {

bool prepareProcess()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before anything of the tool runs: a reboot only counts, it never
    // reaches the system's own command.
    Platform::setRebootHandler([] { ++sReboots; });
    FileNames::install();
    if (guardRoot().isEmpty()) {
        fprintf(stderr, "cannot create a temporary directory\n");
        return false;
    }
    // Until a test makes a device, every device path lies under an empty
    // directory of our own, never under the real /mnt or /etc.
    QDir().mkpath(guardRoot());
    Platform::setRootPath(guardRoot());
    return Platform::hasRebootHandler();
}

int rebootCount()
{
    return sReboots;
}

void resetRebootCount()
{
    sReboots = 0;
}

QByteArray md5sumLine(const QString &filePath)
{
    QProcess md5sum;
    md5sum.setWorkingDirectory(QFileInfo(filePath).absolutePath());
    md5sum.start(QStringLiteral("md5sum"), {QFileInfo(filePath).fileName()});
    md5sum.waitForFinished(-1);
    return md5sum.readAllStandardOutput();
}

bool makeTar(const QString &archivePath, const QByteArray &content)
{
    QTemporaryDir source;
    QDir().mkpath(QFileInfo(archivePath).absolutePath());
    const char script[] = "printf %s \"$1\" > \"$2/data.txt\" && tar -cf \"$3\" -C \"$2\" data.txt";
    return QProcess::execute(QStringLiteral("sh"),
                             {"-c", script, "sh", QString::fromUtf8(content), source.path(),
                              archivePath})
           == 0;
}

void startExecutable(QProcess &process, const QString &executable, const QStringList &arguments)
{
    // Split by hand: the flag that drops empty parts changed its name after 5.12.
    QStringList emulator = QString::fromLocal8Bit(KORVELLO_EMULATOR).split(QLatin1Char(' '));
    emulator.removeAll(QString());
    if (emulator.isEmpty() || !executable.startsWith(QLatin1String(KORVELLO_BINARY_DIR))) {
        process.start(executable, arguments);
        return;
    }
    process.start(emulator.first(), emulator.mid(1) + (QStringList() << executable) + arguments);
}

QString runChild(QProcess &child, const QString &executable, const QStringList &arguments,
                 const QString &until, int limitMs, bool *timedOut)
{
    if (!executable.isEmpty()) {
        child.setProcessChannelMode(QProcess::MergedChannels);
        startExecutable(child, executable, arguments);
    }
    QString output;
    QElapsedTimer clock;
    clock.start();
    while (child.state() != QProcess::NotRunning && clock.elapsed() < limitMs) {
        child.waitForReadyRead(100);
        output += QString::fromUtf8(child.readAll());
        if (!until.isEmpty() && output.contains(until) && output.endsWith(QLatin1Char('\n')))
            break;
    }
    if (timedOut)
        *timedOut = child.state() != QProcess::NotRunning && clock.elapsed() >= limitMs;
    child.kill(); // nothing when it has ended by itself
    child.waitForFinished(limitMs);
    return output + QString::fromUtf8(child.readAll());
}

long childrenPeakKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

QString missed(const QString &said, const QStringList &says)
{
    for (const QString &text : says) {
        const bool absent = text.startsWith(QLatin1Char('!'));
        if (said.contains(text.mid(absent ? 1 : 0)) == absent)
            return text;
    }
    return QString();
}

void setSerial(const QVariant &serial)
{
    if (serial.isNull())
        qunsetenv("snum");
    else
        qputenv("snum", serial.toString().toUtf8());
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&sLogMutex);
    sLogLines.clear();
    sLogTimes.clear();
    sLogClock.start();
    sPassOn = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(sPassOn);
    sPassOn = nullptr;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&sLogMutex);
    return sLogLines;
}

QList<qint64> LogCapture::times() const
{
    QMutexLocker lock(&sLogMutex);
    return sLogTimes;
}

int LogCapture::count(const QString &text) const
{
    return lines().filter(text).size();
}

qint64 LogCapture::elapsedAt(const QString &text) const
{
    QMutexLocker lock(&sLogMutex);
    const QStringList hits = sLogLines.filter(text);
    return hits.isEmpty() ? -1 : sLogTimes.at(sLogLines.indexOf(hits.first()));
}

} // namespace TestSupport

QString TestSupport::schemaViolation(const QJsonValue &value, const QJsonObject &schema,
                                     const QJsonObject &root, const QString &where)
{
    const QJsonObject &top = root.isEmpty() ? schema : root;
    if (schema.contains("$ref"))
        return schemaViolation(value, top.value("definitions").toObject().value(
                                   schema.value("$ref").toString().section('/', -1)).toObject(),
                               top, where);
    const QJsonValue type = schema.value("type");
    const QJsonArray types = type.isArray() ? type.toArray() : QJsonArray{type};
    const QString actual = jsonType(value);
    if (!type.isUndefined() && !types.contains(actual)
        && !(actual == "integer" && types.contains("number")))
        return where + QStringLiteral(": a ") + actual;
    if (schema.contains("enum") && !schema.value("enum").toArray().contains(value))
        return where + QStringLiteral(": not one of its values");
    const QJsonObject object = value.toObject(); // empty unless it is one
    for (const QJsonValue &key : value.isObject() ? schema["required"].toArray() : QJsonArray()) {
        if (!object.contains(key.toString()))
            return where + QStringLiteral(": no ") + key.toString();
    }
    const QJsonObject properties = schema.value("properties").toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!properties.contains(it.key()) && schema.value("additionalProperties") == false)
            return where + QStringLiteral(": unknown ") + it.key();
        const QString violation = schemaViolation(it.value(), properties.value(it.key()).toObject(),
                                                  top, where + '.' + it.key());
        if (!violation.isEmpty())
            return violation;
    }
    const QJsonArray items = value.toArray();
    for (int i = 0; i < items.size(); ++i) {
        const QString violation = schemaViolation(items.at(i), schema.value("items").toObject(),
                                                  top, where + QStringLiteral("[%1]").arg(i));
        if (!violation.isEmpty())
            return violation;
    }
    return QString();
}
