#include "platform.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace {

QString sRoot;
std::function<void()> sRebootHandler;

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

void Platform::setRebootHandler(std::function<void()> handler)
{
    sRebootHandler = std::move(handler);
}

bool Platform::hasRebootHandler()
{
    return bool(sRebootHandler);
}

void Platform::reboot()
{
    if (sRebootHandler) {
        sRebootHandler();
        return;
    }
    QProcess::execute(QLatin1String(DevicePaths::kRebootProgram), QStringList());
}
