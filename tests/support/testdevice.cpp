#include "testdevice.h"

#include "commandline.h"
#include "filenames.h"
#include "mediumlayout.h"
#include "platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTextCodec>
#include <QTextStream>
#include <QVariant>

#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QTemporaryDir *guardDir()
{
    static QTemporaryDir dir;
    return &dir;
}

QString guardRoot()
{
    return guardDir()->path() + QStringLiteral("/guard-root");
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

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                       | QFile::ExeOther;

// What a recording script may do, by word; $b is the backup being made.
const QHash<QString, QString> kBodies = {
    {"archive", "tar -cf \"$b.tar\" -C \"${0%/*}\" \"${0##*/}\""},
    {"md5sum", "(cd \"${b%/*}\" && md5sum \"${b##*/}.tar\") > \"$b.md5\""},
    {"good", "tar -cf \"$b.tar\" -C \"${0%/*}\" \"${0##*/}\"\n"
             "(cd \"${b%/*}\" && md5sum \"${b##*/}.tar\") > \"$b.md5\""},
    {"wrongsum", "echo 00112233445566778899aabbccddeeff > \"$b.md5\""},
    {"uppersum", "(cd \"${b%/*}\" && md5sum \"${b##*/}.tar\" | tr a-f A-F) > \"$b.md5\""},
    {"utf16sum", "{ printf '\\377\\376'; (cd \"${b%/*}\" && md5sum \"${b##*/}.tar\")"
                 " | iconv -t UTF-16LE; } > \"$b.md5\""},
    {"fifosum", "mkfifo \"$b.md5\""},
    {"unreadable", "mkdir \"$b.tar\"; : > \"$b.md5\""},
    {"otherindex", "b=\"${b%-*}-99\""},
    {"flood", "head -c 20000000 /dev/zero | tr '\\000' x; printf '\\nlast\\n'\n"
              "head -c 150000000 /dev/zero >&2"},
    {"talk", "printf 'a\\n完成\\n%s\\n' \"$snum\"; echo oops >&2; cat; printf 'x\\000y\\nz\\n'"},
    {"killed", "kill -KILL $$"},
    {"flood1g", "head -c 1073741824 /dev/zero | tr '\\000' y"},
};

QString scriptBody(const QStringList &words, const QString &versionFile)
{
    QStringList lines;
    for (int i = 0; i < words.size(); ++i) {
        if (words.at(i) == QLatin1String("version"))
            lines << QStringLiteral("printf '%s\\n' '%1' > '%2'")
                         .arg(words.value(++i), versionFile);
        else
            lines << kBodies.value(words.at(i), words.at(i));
    }
    return lines.join(QLatin1Char('\n'));
}

QByteArray unescaped(QString text)
{
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"))
        .replace(QLatin1String("\\r"), QLatin1String("\r"))
        .replace(QLatin1String("\\t"), QLatin1String("\t"))
        .toUtf8();
}

// Writes `size` bytes of `fill` without holding them all.
void writeRepeated(const QString &path, char fill, qint64 size)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    const QByteArray block(1 << 20, fill);
    for (qint64 left = size; left > 0; left -= block.size())
        file.write(block.constData(), qMin<qint64>(left, block.size()));
}

// Spoils a data file and its side file (made by md5sum) as `form` says.
void spoil(const TestDevice &device, const QString &data, const QString &side,
           const QString &form)
{
    const QByteArray line = TestSupport::md5sumLine(data);
    if (form == QLatin1String("none"))
        QFile::remove(side);
    else if (form == QLatin1String("only"))
        QFile::remove(data);
    else if (form == QLatin1String("wrong"))
        device.writeFile(side, "0123456789abcdef0123456789abcdef  x\n");
    else if (form == QLatin1String("upper"))
        device.writeFile(side, line.toUpper());
    else if (form == QLatin1String("alone"))
        device.writeFile(side, line.left(32));
    else if (form == QLatin1String("crlf"))
        device.writeFile(side, line.trimmed() + "\r\n");
    else if (form == QLatin1String("blank"))
        device.writeFile(side, " " + line);
    else if (form == QLatin1String("utf16"))
        device.writeFile(side, QTextCodec::codecForName("UTF-16LE")->fromUnicode(
                                   QChar(QChar::ByteOrderMark) + QString::fromLatin1(line)));
    else if (form == QLatin1String("truncated"))
        QFile::resize(data, QFileInfo(data).size() / 2);
    const QString away = device.elsewhere() + QLatin1Char('/') + QFileInfo(side).fileName();
    if (form == QLatin1String("offmedium"))
        QFile::rename(side, away);
    if (QStringList{"fifo", "zero", "kernel", "nul1g", "x150"}.contains(form))
        QFile::remove(side);
    if (form == QLatin1String("offmedium"))
        QFile::link(away, side);
    else if (form == QLatin1String("kernel")) // regular, never blocks, never ends
        QFile::link(QStringLiteral("/proc/self/pagemap"), side);
    else if (form == QLatin1String("fifo"))
        mkfifo(QFile::encodeName(side).constData(), 0644);
    else if (form == QLatin1String("zero"))
        QFile::link(QStringLiteral("/dev/zero"), side);
    else if (form == QLatin1String("nul1g"))
        QFile::resize(device.writeFile(side, QByteArray()), Q_INT64_C(1) << 30); // sparse
    else if (form == QLatin1String("x150"))
        writeRepeated(side, 'x', Q_INT64_C(150) << 20);
}

void layScript(const TestDevice &device, const QStringList &words)
{
    const QString name = words.value(1) + QStringLiteral("_script.sh");
    const QString path = device.runDir() + QLatin1Char('/') + name;
    const QString kind = words.value(2);
    if (kind == QLatin1String("noexec"))
        device.writeFile(path, "#!/bin/sh\nexit 0\n");
    else if (kind == QLatin1String("crlf"))
        device.writeFile(path, "#!/bin/sh\r\nexit 0\r\n");
    else if (kind == QLatin1String("badinterpreter"))
        device.writeFile(path, "#!/nonexistent/sh\nexit 0\n");
    else if (kind == QLatin1String("nullinterpreter"))
        device.writeFile(path, "#!/dev/null\nexit 0\n");
    else if (kind == QLatin1String("elfjunk"))
        device.writeFile(path, "\x7f" "ELF" + QByteArray(60, 'j'));
    else if (kind == QLatin1String("dir"))
        QDir().mkpath(path);
    else if (kind == QLatin1String("reference") || kind == QLatin1String("edited")) {
        QFile reference(QStringLiteral(KORVELLO_SOURCE_DIR "/medium/") + name);
        reference.open(QIODevice::ReadOnly);
        // Edited as an engineer does, to the same size.
        const QByteArray data
            = kind == QLatin1String("edited") ? "DATA_DIR=/srv1" : "DATA_DIR=/data";
        device.writeFile(path, reference.readAll().replace("DATA_DIR=/data", data));
    }
    else if (kind != QLatin1String("missing"))
        device.writeRecordingScript(name, kind.toInt(),
                                    scriptBody(words.mid(3), device.versionFile()));
    if (kind != QLatin1String("noexec") && kind != QLatin1String("missing"))
        QFile::setPermissions(path, kExecutable);
}

// An archive or package with its side file, then spoilt.
void layPair(const TestDevice &device, const QStringList &words, const QString &snum)
{
    const bool named = words.value(1).contains(QLatin1Char('.'));
    const bool package = words.at(0) == QLatin1String("package");
    const QString folder = package ? MediumLayout::packageFolder(device.medium())
                                   : MediumLayout::deviceFolder(device.medium(), snum);
    const QString name = named ? words.value(1)
                               : QStringLiteral("data-%1-%2-%3.tar")
                                     .arg(snum, words.value(1), words.value(2));
    const QString form = words.value(named ? 2 : 3);
    const QString data = folder + QLatin1Char('/') + name;
    if (form == QLatin1String("dir")) {
        QDir().mkpath(data);
        return;
    }
    const QString side = package ? MediumLayout::packageSideFile(data)
                                 : folder + QLatin1Char('/') + name.section(QLatin1Char('.'), 0, 0)
                                       + QStringLiteral(".md5");
    const QString made = form == QLatin1String("link") ? device.elsewhere() + "/" + name : data;
    TestSupport::makeTar(made, name.toUtf8());
    device.writeFile(side, TestSupport::md5sumLine(made));
    if (form == QLatin1String("link"))
        QFile::link(made, data);
    else if (form == QLatin1String("dataless"))
        QFile::link(QStringLiteral("/dev/zero"), side.left(side.size() - 4) + ".tar");
    spoil(device, data, side, form);
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

QString TestDevice::root() const
{
    return mDir.path();
}

QString TestDevice::medium(int devType) const
{
    const QString path = root()
                         + QLatin1String(devType == 1 ? DevicePaths::kSdCardRoot
                                                      : DevicePaths::kUsbRoot);
    QDir().mkpath(path);
    return path;
}

QString TestDevice::runDir(int devType) const
{
    const QString path = MediumLayout::runFolder(medium(devType));
    QDir().mkpath(path);
    return path;
}

QString TestDevice::elsewhere() const
{
    return root() + QStringLiteral("/elsewhere");
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

QString TestDevice::writeRecordingScript(const QString &name, int exitCode,
                                         const QString &body) const
{
    const QString record = QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1'\n"
                                          "b=\"$4/data-$1/data-$1-$2-$3\"\n")
                               .arg(root() + QStringLiteral("/args-") + name);
    return writeScript(runDir() + QLatin1Char('/') + name,
                       record + body + QStringLiteral("\nexit %1").arg(exitCode));
}

QStringList TestDevice::recordedArguments(const QString &scriptName) const
{
    QFile file(root() + QStringLiteral("/args-") + scriptName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    // Read as names are: bytes that are not UTF-8 come back as they went.
    QStringList arguments = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    arguments.removeLast(); // the final line feed
    return arguments;
}

QString TestDevice::versionFile() const
{
    return root() + QLatin1String(DevicePaths::kVersionFile);
}

void TestDevice::writeVersionFile(const QByteArray &content) const
{
    writeFile(versionFile(), content);
}

QString TestDevice::checkReport(const QString &snum, const QStringList &options) const
{
    QStringList arguments = QStringList{"check", medium(), "--snum", snum} + options;
    if (QFile::exists(versionFile()))
        arguments << QStringLiteral("--version-file") << versionFile();
    QString report;
    QTextStream out(&report);
    const int exitCode = MediumCommand::run(arguments, out, out);
    out.flush();
    return exitCode == 0 ? report : QStringLiteral("exit code %1\n").arg(exitCode) + report;
}

void TestDevice::lay(const QStringList &items, const QString &snum) const
{
    for (QString item : items) {
        item.replace(QLatin1String("%root"), root()).replace(QLatin1String("%else"), elsewhere());
        const QStringList words = item.split(QLatin1Char(' '));
        const QString kind = words.at(0);
        const QString path = medium() + QLatin1Char('/') + words.value(1);
        if (kind == QLatin1String("backup") || kind == QLatin1String("package"))
            layPair(*this, words, snum);
        else if (kind == QLatin1String("version"))
            writeVersionFile(unescaped(item.mid(8)));
        else if (kind == QLatin1String("script"))
            layScript(*this, words);
        else if (kind == QLatin1String("file"))
            writeFile(path, words.size() > 2 ? unescaped(item.section(' ', 2)) : "x");
        else if (kind == QLatin1String("dir"))
            QDir().mkpath(path);
        if (kind != QLatin1String("fifo") && kind != QLatin1String("link"))
            continue;
        QDir().mkpath(QFileInfo(path).path());
        if (kind == QLatin1String("fifo"))
            mkfifo(QFile::encodeName(path).constData(), 0644);
        else
            QFile::link(words.value(2), path);
    }
}

namespace TestSupport {

bool prepareProcess()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before anything of the tool runs: a reboot only counts, it never
    // reaches the system's own command.
    Platform::setRebootHandler([] { ++sReboots; });
    FileNames::install();
    if (!guardDir()->isValid()) {
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
    const QFileInfo info(filePath);
    QProcess md5sum;
    md5sum.setWorkingDirectory(info.absolutePath());
    md5sum.start(QStringLiteral("md5sum"), QStringList() << info.fileName());
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
    child.setProcessChannelMode(QProcess::MergedChannels);
    startExecutable(child, executable, arguments);
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

void setSerial(const QVariant &serial)
{
    if (serial.isNull())
        qunsetenv("snum");
    else
        qputenv("snum", serial.toString().toUtf8());
}

LogCapture::LogCapture()
{
    clear();
    mPrevious = qInstallMessageHandler(captureMessage);
    sPassOn = mPrevious;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(mPrevious);
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
    int n = 0;
    for (const QString &line : lines())
        n += line.contains(text) ? 1 : 0;
    return n;
}

qint64 LogCapture::elapsedAt(const QString &text) const
{
    QMutexLocker lock(&sLogMutex);
    for (int i = 0; i < sLogLines.size(); ++i) {
        if (sLogLines.at(i).contains(text))
            return sLogTimes.at(i);
    }
    return -1;
}

void LogCapture::clear()
{
    QMutexLocker lock(&sLogMutex);
    sLogLines.clear();
    sLogTimes.clear();
    sLogClock.start();
}

} // namespace TestSupport

namespace {

QString jsonType(const QJsonValue &value)
{
    static const char *const names[] = {"null", "boolean", "number", "string", "array", "object"};
    if (value.isDouble() && value.toDouble() == std::floor(value.toDouble()))
        return QStringLiteral("integer");
    return QLatin1String(names[qMin(int(value.type()), 5)]);
}

QString objectViolation(const QJsonObject &object, const QJsonObject &schema,
                        const QJsonObject &root, const QString &where)
{
    for (const QJsonValue &key : schema.value("required").toArray()) {
        if (!object.contains(key.toString()))
            return where + QStringLiteral(": no ") + key.toString();
    }
    const QJsonObject properties = schema.value("properties").toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!properties.contains(it.key()) && schema.value("additionalProperties") == false)
            return where + QStringLiteral(": unknown ") + it.key();
        const QString violation = TestSupport::schemaViolation(
            it.value(), properties.value(it.key()).toObject(), root, where + '.' + it.key());
        if (!violation.isEmpty())
            return violation;
    }
    return QString();
}

} // namespace

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
    if (value.isObject())
        return objectViolation(value.toObject(), schema, top, where);
    const QJsonArray items = value.toArray();
    for (int i = 0; i < items.size(); ++i) {
        const QString violation = schemaViolation(items.at(i), schema.value("items").toObject(),
                                                  top, where + QStringLiteral("[%1]").arg(i));
        if (!violation.isEmpty())
            return violation;
    }
    return QString();
}
