#include "testdevice.h"

#include "platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QVariant>

#include <cstdio>

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

QString mediumPath(const QString &root, int devType)
{
    return root + QLatin1String(devType == 1 ? DevicePaths::kSdCardRoot : DevicePaths::kUsbRoot);
}

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

} // namespace

TestDevice::TestDevice()
{
    Platform::setRootPath(mDir.path());
}

TestDevice::~TestDevice()
{
    Platform::setRootPath(guardRoot());
}

bool TestDevice::isValid() const
{
    return mDir.isValid();
}

QString TestDevice::root() const
{
    return mDir.path();
}

QString TestDevice::medium(int devType) const
{
    const QString path = mediumPath(root(), devType);
    QDir().mkpath(path);
    return path;
}

QString TestDevice::runDir(int devType) const
{
    const QString path = medium(devType) + QStringLiteral("/run");
    QDir().mkpath(path);
    return path;
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
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                    | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                    | QFile::ExeOther);
    return path;
}

QString TestDevice::argumentsFile(const QString &scriptName) const
{
    return root() + QStringLiteral("/args-") + scriptName + QStringLiteral(".txt");
}

QString TestDevice::writeRecordingScript(const QString &name, int exitCode, const QString &body,
                                         int devType) const
{
    const QString record = QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1'\n")
                               .arg(argumentsFile(name));
    return writeScript(runDir(devType) + QLatin1Char('/') + name,
                       record + body + QStringLiteral("\nexit %1").arg(exitCode));
}

QStringList TestDevice::recordedArguments(const QString &scriptName) const
{
    QFile file(argumentsFile(scriptName));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList arguments = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    arguments.removeLast(); // the final line feed
    return arguments;
}

bool TestDevice::scriptRan(const QString &scriptName) const
{
    return QFileInfo::exists(argumentsFile(scriptName));
}

QString TestDevice::versionFile() const
{
    return root() + QLatin1String(DevicePaths::kVersionFile);
}

void TestDevice::writeVersionFile(const QByteArray &content) const
{
    writeFile(versionFile(), content);
}

namespace TestSupport {

bool prepareProcess()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before anything of the tool runs: a reboot only counts, it never
    // reaches the system's own command.
    Platform::setRebootHandler([] { ++sReboots; });
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

QString md5Of(const QString &filePath)
{
    return QString::fromLatin1(md5sumLine(filePath).left(32));
}

void writeSideFile(const QString &dataPath, const QString &sideFilePath)
{
    QFile file(sideFilePath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(md5sumLine(dataPath));
}

bool makeTar(const QString &archivePath, const QByteArray &content)
{
    QTemporaryDir source;
    QFile data(source.path() + QStringLiteral("/data.txt"));
    if (!data.open(QIODevice::WriteOnly))
        return false;
    data.write(content);
    data.close();
    QDir().mkpath(QFileInfo(archivePath).absolutePath());
    return QProcess::execute(QStringLiteral("tar"),
                             QStringList() << QStringLiteral("-cf") << archivePath
                                           << QStringLiteral("-C") << source.path()
                                           << QStringLiteral("data.txt"))
           == 0;
}

void startExecutable(QProcess &process, const QString &executable, const QStringList &arguments)
{
    // Split by hand: the flag that drops empty parts changed its name after 5.12.
    QStringList emulator = QString::fromLocal8Bit(KORVELLO_EMULATOR).split(QLatin1Char(' '));
    emulator.removeAll(QString());
    if (emulator.isEmpty()) {
        process.start(executable, arguments);
        return;
    }
    process.start(emulator.first(), emulator.mid(1) + (QStringList() << executable) + arguments);
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

bool LogCapture::contains(const QString &text) const
{
    return count(text) > 0;
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

namespace TestSupport {

void setSerial(const QVariant &serial)
{
    if (serial.isNull())
        qunsetenv("snum");
    else
        qputenv("snum", serial.toString().toUtf8());
}

} // namespace TestSupport
