#include "jobends.h"

namespace JobEnds {

Backup backupVerified(int result)
{
    // Any result of 0 or more counts as a good backup.
    if (result >= 0)
        return Backup::Good;
    switch (result) {
    case -1:
        return Backup::ArchiveMissing;
    case -2:
        return Backup::SideFileMissing;
    case -3:
        return Backup::DigestMismatch;
    default:
        return Backup::Failed;
    }
}

Backup backupRunner(ScriptState state, Backup otherwise)
{
    switch (state) {
    case ScriptState::Missing:
        return Backup::ScriptMissing;
    case ScriptState::NotExecutable:
        return Backup::ScriptNotExecutable;
    case ScriptState::Unstartable:
        return Backup::ScriptNotStarted;
    case ScriptState::Runnable:
        break;
    }
    return otherwise;
}

Upgrade upgradeRunner(ScriptState state, Upgrade otherwise)
{
    switch (state) {
    case ScriptState::Missing:
        return Upgrade::ScriptMissing;
    case ScriptState::NotExecutable:
        return Upgrade::ScriptNotExecutable;
    case ScriptState::Unstartable:
        return Upgrade::ScriptNotStarted;
    case ScriptState::Runnable:
        break;
    }
    return otherwise;
}

} // namespace JobEnds
