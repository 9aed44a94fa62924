#include "jobdecisions.h"

#include <QFileInfo>

namespace JobDecisions {

using MediumLayout::FolderState;

std::optional<JobEnds::Backup> folderEnd(FolderState state)
{
    if (state == FolderState::Blocked || state == FolderState::OffMedium)
        return JobEnds::Backup::FolderFailed;
    return std::nullopt;
}

std::optional<JobEnds::Backup> indexEnd(int index)
{
    // Refused like a folder that cannot be made: index 0 runs no script.
    if (index == BackupCatalog::kNoIndex)
        return JobEnds::Backup::Failed;
    return std::nullopt;
}

BackupFiles backupFiles(const QString &root, const QString &snum, const QString &timeStamp,
                        int index)
{
    const QString base = MediumLayout::deviceFolder(root, snum) + QLatin1Char('/')
                         + MediumLayout::archiveBaseName(snum, timeStamp, index);
    return {base + QLatin1String(MediumLayout::kArchiveExtension),
            base + QLatin1String(MediumLayout::kArchiveSideExtension)};
}

BackupCheck verifyBackup(const BackupFiles &files)
{
    BackupCheck result;
    if (!QFileInfo::exists(files.archive))
        return result;
    result.code = kSideFileMissing;
    if (!QFileInfo::exists(files.sideFile))
        return result;
    result.digests = SideFile::check(files.archive, files.sideFile, SideFile::Source::Medium);
    result.code = result.digests.matches() ? kBackupGood : kDigestMismatch;
    return result;
}

std::optional<JobEnds::Restore> choiceEnd(FolderState state,
                                          const BackupCatalog::Selection &selection)
{
    if (state != FolderState::Exists || selection.chosenPath.isEmpty())
        return JobEnds::Restore::NoBackup;
    return std::nullopt;
}

JobEnds::Restore restorationEnd(int scriptResult)
{
    return scriptResult == 0 ? JobEnds::Restore::Restored : JobEnds::Restore::Failed;
}

Candidacy candidacy(const BackupCatalog::Candidate &candidate,
                    const BackupCatalog::Selection &selection)
{
    if (candidate.fileName == selection.chosenFileName)
        return Candidacy::Taken;
    const SideFile::Check &digests = candidate.digests;
    if (digests.calMd5.isEmpty())
        return Candidacy::Unreadable;
    if (digests.fileMd5.isEmpty()) {
        const QFileInfo side(candidate.sideFilePath);
        return side.exists() || side.isSymLink() ? Candidacy::NoDigest : Candidacy::NoSideFile;
    }
    if (!candidate.intact())
        return Candidacy::DigestsDiffer;
    if (candidate.index <= 0)
        return Candidacy::IndexZero;
    if (candidate.index != selection.maxIndex)
        return Candidacy::Older;
    return candidate.archivePath == selection.chosenPath ? Candidacy::TakenAsTwin
                                                         : Candidacy::SameIndexLater;
}

std::optional<JobEnds::Upgrade> packageEnd(FolderState state, const QStringList &listing,
                                           const UpgradeCatalog::PackageCheck *check)
{
    if (state != FolderState::Exists || listing.isEmpty())
        return JobEnds::Upgrade::NoPackage;
    if (check && !check->verified())
        return JobEnds::Upgrade::BadChecksum;
    return std::nullopt;
}

std::optional<JobEnds::Upgrade> upgradeEnd(int scriptResult, bool versionNamesPackage)
{
    if (scriptResult == 0)
        return versionNamesPackage ? JobEnds::Upgrade::Upgraded
                                   : JobEnds::Upgrade::VersionUnchanged;
    if (scriptResult > kRunnerOwnResultCeiling)
        return JobEnds::Upgrade::Failed;
    return std::nullopt;
}

} // namespace JobDecisions
