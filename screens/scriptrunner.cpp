#include "scriptrunner.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

namespace ScriptRunner {

namespace {

// Spelled out rather than streamed: not every Qt 5 release registers the
// enumerator names of QProcess::ExitStatus with the debug stream.
const char *exitStatusName(QProcess::ExitStatus status)
{
    return status == QProcess::NormalExit ? "QProcess::NormalExit" : "QProcess::CrashExit";
}

} // namespace

QString scriptPath(const ScreenTraits &traits, const QString &storageRoot)
{
    return storageRoot + QStringLiteral("/run/") + QString::fromLatin1(traits.scriptName);
}

void logOutput(const QByteArray &standardOutput, const QByteArray &standardError)
{
    const QString text = QString::fromUtf8(standardOutput.constData());
    for (const QString &piece : text.split(QLatin1Char('\n')))
        qDebug() << "Standard Output: " << piece;
    qDebug() << "Error Output:" << standardError;
}

int run(const ScreenTraits &traits, const QString &storageRoot, const QStringList &arguments,
        const std::function<void(const QString &)> &setNote)
{
    const QString path = scriptPath(traits, storageRoot);
    qDebug() << "=== " << traits.runnerName << " " << path;

    const QFileInfo script(path);
    if (!script.exists()) {
        qDebug() << "Error: Script does not exist -" << path;
        setNote(QStringLiteral("備份腳本不存在"));
        return traits.resultMissing;
    }
    if (!script.isExecutable()) {
        qDebug() << "Error: Script is not executable -" << path;
        setNote(QStringLiteral("備份腳本不可運行"));
        return traits.resultNotExecutable;
    }

    QProcess process;
    process.start(path, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(kStartTimeoutMs)) {
        qDebug() << "Error: Failed to start script -" << process.errorString();
        setNote(QStringLiteral("備份腳本運行失敗"));
        return traits.resultNotStarted;
    }
    // Nothing is ever written to a script; closing its input at once keeps a
    // script that reads it from waiting for ever.
    process.closeWriteChannel();
    if (!process.waitForFinished(-1)) {
        qDebug() << "Error: Script execution timed out or encountered an error -"
                 << process.errorString();
        return kWaitFailedResult;
    }
    qDebug() << "Script execution completed";
    logOutput(process.readAllStandardOutput(), process.readAllStandardError());
    qDebug() << "Exit Status:" << exitStatusName(process.exitStatus());
    qDebug() << "Exit Code:" << process.exitCode();
    return process.exitCode();
}

} // namespace ScriptRunner
