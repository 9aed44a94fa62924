#ifndef KORVELLO_JOBENDS_H
#define KORVELLO_JOBENDS_H

#include "scriptstate.h"

// Every way a job can end, as its screen reports it on the note line. The
// screens end their jobs with these values and korvello-medium predicts
// them, so both word an end through the same texts (Texts::note).
namespace JobEnds {

enum class Backup {
    FolderFailed,      // the device folder could not be provided
    Failed,            // no index left, or another failure of the verification
    ScriptMissing,
    ScriptNotExecutable,
    ScriptNotStarted,
    ScriptFailed,      // a non-zero exit or a failed wait: the busy text stays
    ArchiveMissing,
    SideFileMissing,
    DigestMismatch,
    Good,
};

enum class Restore {
    NoBackup,
    Failed,            // any failure of the script run
    Restored,
};

enum class Upgrade {
    NoPackage,
    BadChecksum,
    AlreadyLatest,
    ScriptMissing,
    ScriptNotExecutable,
    ScriptNotStarted,
    Failed,            // a non-zero exit or a failed wait
    VersionUnchanged,  // exit 0, but the version file does not name the package
    Upgraded,
};

// The backup verification's result code (1, -1, -2, -3, other) as an end.
Backup backupVerified(int result);
// The end when the script cannot be run, or `otherwise` when it runs (and
// its exit code decides). For the jobs whose runner has notes of its own.
template <typename End>
End runnerEnd(ScriptState state, End otherwise)
{
    switch (state) {
    case ScriptState::Missing:
        return End::ScriptMissing;
    case ScriptState::NotExecutable:
        return End::ScriptNotExecutable;
    case ScriptState::Unstartable:
        return End::ScriptNotStarted;
    case ScriptState::Runnable:
        break;
    }
    return otherwise;
}

} // namespace JobEnds

#endif
