#ifndef KORVELLO_MEDIUM_COMMANDLINE_H
#define KORVELLO_MEDIUM_COMMANDLINE_H

#include <QStringList>

class QTextStream;

// korvello-medium's commands. Returns the exit code; what the engineer
// reads goes to out, errors to err.
namespace MediumCommand {

enum ExitCode {
    kDone = 0,
    kFailed = 1, // the medium could not be written
    kBadArguments = 2,
    kMissing = 3, // a folder or file named on the command line is not there or unreadable
    kJobFails = 1, // check: a job counted would end on a failure note
    kWarnings = 4, // check --strict: warnings and no failure
    kKept = 4,     // prepare: a changed script was kept
};

// arguments without the program name.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

QString usage();
QString commandHelp(const QString &command);

} // namespace MediumCommand

#endif
