#ifndef KORVELLO_JOBDECISIONS_H
#define KORVELLO_JOBDECISIONS_H

#include "backupcatalog.h"
#include "jobends.h"
#include "mediumlayout.h"
#include "upgradecatalog.h"

#include <QString>
#include <QStringList>

#include <optional>

// What each job decides, step by step, from what the medium and the device
// hold: no widget, no timer, no state of its own. The screens call these
// from their slots, between their notes and debug lines, and keep the
// job's data in their members; korvello-medium's check calls the same ones
// to predict the screens, and adds only its reporting.
namespace JobDecisions {

// --- Backup ---

// The end the device folder's state decides: a folder that a file or a
// dangling link blocks, or that leads off the medium, is never written.
// A missing folder is made by the screen and numbered 1.
std::optional<JobEnds::Backup> folderEnd(MediumLayout::FolderState state);

// The index a missing device folder's first backup carries.
constexpr int kFirstIndex = 1;

// The end the next index decides: none left after the largest 32-bit one.
std::optional<JobEnds::Backup> indexEnd(int index);

// The verification's result codes, as the backup screen returns them.
enum BackupCheckCode {
    kBackupGood = 1,
    kArchiveMissing = -1,
    kSideFileMissing = -2,
    kDigestMismatch = -3,
};

// The archive and side file the verification looks at: named by the job's
// own fields (serial, time stamp, index), never taken from a listing, so
// that an archive the script named otherwise does not count.
struct BackupFiles
{
    QString archive;
    QString sideFile;
};
BackupFiles backupFiles(const QString &root, const QString &snum, const QString &timeStamp,
                        int index);

// The verification of those files: one of the codes above, and the two
// digests when both files exist (hashed from the medium itself, not from
// what the system still holds: this device has just written them).
struct BackupCheck
{
    int code = kArchiveMissing;
    SideFile::Check digests;
};
BackupCheck verifyBackup(const BackupFiles &files);

// --- Restoration ---

// The end the choice alone decides: no device folder, or no intact archive
// with a positive index in it. Unset, the chosen archive is restored.
std::optional<JobEnds::Restore> choiceEnd(MediumLayout::FolderState state,
                                          const BackupCatalog::Selection &selection);

// The end after the script: its exit code decides.
JobEnds::Restore restorationEnd(int scriptResult);

// Why the restoration passes over an archive it hashed, or takes it.
enum class Candidacy {
    Taken,          // the chosen one, as listed
    TakenAsTwin,    // another listed name hashed as the chosen archive
    Unreadable,     // the archive cannot be read
    NoSideFile,     // its side file does not exist
    NoDigest,       // its side file yields no digest
    DigestsDiffer,
    IndexZero,      // 0 or less is never restored
    SameIndexLater, // an intact one of the same index was listed first
    Older,
};
Candidacy candidacy(const BackupCatalog::Candidate &candidate,
                    const BackupCatalog::Selection &selection);

// --- Upgrade ---

// The end the package search decides: no package folder, no package in it,
// or a taken package whose checksum fails (no other one is tried). Pass
// the check once the taken package has been checked, else nullptr. Unset,
// the taken package goes on to the version comparison.
std::optional<JobEnds::Upgrade> packageEnd(MediumLayout::FolderState state,
                                           const QStringList &listing,
                                           const UpgradeCatalog::PackageCheck *check);

// Results at or below this one are the script runner's own failures
// (missing, not executable, not started), whose note stays on screen.
constexpr int kRunnerOwnResultCeiling = -100;

// The end after the upgrade script, from its result and whether the version
// file, read again, now names the package: an exit code of 0 is not
// trusted alone. Unset: the runner's own note stays.
std::optional<JobEnds::Upgrade> upgradeEnd(int scriptResult, bool versionNamesPackage);

} // namespace JobDecisions

#endif
