#ifndef KORVELLO_SCRIPTRUNNER_H
#define KORVELLO_SCRIPTRUNNER_H

#include "mediumlayout.h"
#include "scriptstate.h"

#include <QString>
#include <QStringList>

#include <functional>

// Runs a maintenance script from the medium and turns the outcome into one
// int: the script's exit code, or the runner's own failure code from the
// screen's row.
namespace ScriptRunner {

constexpr int kStartTimeoutMs = 30000;
constexpr int kWaitFailedResult = 1;

// What sets the screens' runners apart.
struct Traits
{
    const char *logName;       // the runner's name in its first debug line
    MediumLayout::Script script;
    int resultMissing;
    int resultNotExecutable;
    int resultNotStarted;
};

// Whether the script is there and executable, as the runner checks before
// it starts anything.
ScriptState presence(const QString &path);
// The same, and whether the kernel can start it at all: what korvello-medium
// predicts (the runner itself finds that out by trying). *why says what
// keeps an Unstartable script from starting.
ScriptState inspect(const QString &path, QString *why = nullptr);

// Runs ROOT/run/<script> with exactly the given four arguments, blocking
// until it ends. setNote receives the runner's failure texts. The script's
// output is logged once it has ended; of a flood only the head and the tail
// are kept, so memory stays small however much it prints.
int run(const Traits &traits, const QString &root, const QStringList &arguments,
        const std::function<void(const QString &)> &setNote);

} // namespace ScriptRunner

#endif
