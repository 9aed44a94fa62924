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

} // namespace JobEnds
