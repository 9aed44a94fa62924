#ifndef KORVELLO_SCRIPTRUNNER_H
#define KORVELLO_SCRIPTRUNNER_H

#include "screentraits.h"

#include <QString>
#include <QStringList>

#include <functional>

// Runs a maintenance script from the medium and turns the outcome into one
// int: the script's exit code, or the runner's own failure code from the
// screen's row of the table.
namespace ScriptRunner {

constexpr int kStartTimeoutMs = 30000;
constexpr int kWaitFailedResult = 1;

QString scriptPath(const ScreenTraits &traits, const QString &storageRoot);

// Runs storageRoot/run/<script> with exactly the given four arguments,
// blocking until it ends. setNote receives the runner's failure texts.
int run(const ScreenTraits &traits, const QString &storageRoot, const QStringList &arguments,
        const std::function<void(const QString &)> &setNote);

// Logs what the script printed: one line per line feed, cut at a NUL byte.
void logOutput(const QByteArray &standardOutput, const QByteArray &standardError);

} // namespace ScriptRunner

#endif
