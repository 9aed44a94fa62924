#include "platform.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>

namespace {

QString sRoot;
QString sRebootProgram = QStringLiteral("reboot");
std::function<void()> sRebootHandler;

QString canonical(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

// Where a system keeps its reboot command (and the targets of its links,
// often systemctl or busybox): any of them counts as the real thing.
QStringList systemRebootFiles()
{
    QStringList files;
    const QStringList known = {QStringLiteral("/sbin/reboot"), QStringLiteral("/usr/sbin/reboot"),
                               QStringLiteral("/bin/reboot"), QStringLiteral("/usr/bin/reboot")};
    for (const QString &path : known) {
        if (QFileInfo::exists(path))
            files << path << canonical(path);
    }
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("reboot"));
    if (!onPath.isEmpty())
        files << onPath << canonical(onPath);
    return files;
}

} // namespace

QString Platform::rootPath()
{
    return sRoot;
}

void Platform::setRootPath(const QString &root)
{
    // A trailing slash would give "ROOT//mnt/..."; "/" itself means no prefix.
    QString cleaned = root;
    while (cleaned.endsWith(QLatin1Char('/')))
        cleaned.chop(1);
    sRoot = cleaned;
}

QString Platform::resolve(const QString &devicePath)
{
    return sRoot + devicePath;
}

QString Platform::deviceSerial()
{
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("snum"),
                                                          QLatin1String(""));
}

QString Platform::rebootProgram()
{
    return sRebootProgram;
}

void Platform::setRebootProgram(const QString &program)
{
    sRebootProgram = program;
}

void Platform::setRebootHandler(std::function<void()> handler)
{
    sRebootHandler = std::move(handler);
}

void Platform::reboot()
{
    if (sRebootHandler) {
        sRebootHandler();
        return;
    }
    QProcess::execute(sRebootProgram, QStringList());
}

QString Platform::resolvedRebootProgram()
{
    if (sRebootProgram.contains(QLatin1Char('/'))) {
        const QFileInfo info(sRebootProgram);
        return info.exists() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(sRebootProgram);
}

bool Platform::rebootReachesSystem()
{
    if (sRebootHandler)
        return false;
    const QString resolved = resolvedRebootProgram();
    // A program that resolves to nothing now might appear on PATH later.
    if (resolved.isEmpty())
        return !sRebootProgram.contains(QLatin1Char('/'));
    const QStringList system = systemRebootFiles();
    if (system.contains(resolved) || system.contains(canonical(resolved)))
        return true;
    const QString dir = QFileInfo(canonical(resolved)).absolutePath();
    const QStringList systemDirs = {QStringLiteral("/sbin"), QStringLiteral("/usr/sbin"),
                                    QStringLiteral("/bin"), QStringLiteral("/usr/bin")};
    return systemDirs.contains(dir);
}
