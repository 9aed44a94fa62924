#include "mediumcheck.h"

#include "filesystem.h"
#include "medialisting.h"
#include "utils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace MediumCheck {

namespace {

const char kBackupScript[] = "backup_script.sh";
const char kRecoverScript[] = "recover_script.sh";
const char kUpgradeScript[] = "upgrade_script.sh";

// True when the device's mkpath of the device folder would fail because a
// plain file stands on the way.
bool pathBlocked(const QString &medium, const QString &folder)
{
    for (QString path = folder; path.size() > medium.size(); path = QFileInfo(path).path()) {
        const QFileInfo info(path);
        if (info.exists() && !info.isDir())
            return true;
    }
    return false;
}

QString damageReason(const BackupCatalog::Candidate &candidate)
{
    const QString archive = QFileInfo(candidate.archivePath).fileName();
    if (candidate.calMd5.isEmpty())
        return QStringLiteral("damaged: the archive cannot be read as %1").arg(archive);
    if (candidate.fileMd5.isEmpty() && !QFileInfo::exists(candidate.sideFilePath))
        return QStringLiteral("damaged: no side file %1")
            .arg(QFileInfo(candidate.sideFilePath).fileName());
    if (candidate.fileMd5.isEmpty())
        return QStringLiteral("damaged: the side file holds no lowercase digest on its first line");
    return QStringLiteral("damaged: digests differ (archive %1, side file %2)")
        .arg(candidate.calMd5, candidate.fileMd5);
}

QString restoreVerdict(const RestoreCandidate &entry, int chosenIndex)
{
    const BackupCatalog::Candidate &candidate = entry.candidate;
    if (entry.chosen)
        return QStringLiteral("restored: the intact archive with the highest index");
    if (!candidate.intact)
        return QStringLiteral("passed over: ") + damageReason(candidate);
    if (candidate.index <= 0)
        return QStringLiteral("passed over: index 0 is never restored");
    if (candidate.index == chosenIndex)
        return QStringLiteral("passed over: same index as the chosen archive, "
                              "which comes first in name order");
    return QStringLiteral("passed over: older than the chosen archive");
}

} // namespace

Script inspectScript(const QString &medium, const QString &name)
{
    Script script;
    script.name = name;
    const QFileInfo info(medium + QStringLiteral("/run/") + name);
    script.present = info.exists();
    script.executable = info.isExecutable();
    return script;
}

BackupPlan planBackup(const QString &medium, const QString &snum)
{
    BackupPlan plan;
    plan.script = inspectScript(medium, QString::fromLatin1(kBackupScript));
    plan.deviceFolder = BackupCatalog::deviceFolder(medium, snum);
    plan.folderExists = QFileInfo(plan.deviceFolder).isDir();
    plan.folderBlocked = pathBlocked(medium, plan.deviceFolder);
    if (plan.folderBlocked)
        return plan;
    plan.nextIndex = BackupCatalog::nextIndex(plan.deviceFolder);
    const QString base = BackupCatalog::archiveBaseName(
        snum, QString::fromLatin1(kTimeStampPlaceholder), plan.nextIndex);
    plan.expectedArchive = base + QStringLiteral(".tar");
    plan.expectedSideFile = base + QStringLiteral(".md5");
    return plan;
}

RestorePlan planRestore(const QString &medium, const QString &snum)
{
    RestorePlan plan;
    plan.script = inspectScript(medium, QString::fromLatin1(kRecoverScript));
    plan.deviceFolder = BackupCatalog::deviceFolder(medium, snum);
    plan.folderExists = QDir(plan.deviceFolder).exists();
    if (!plan.folderExists)
        return plan;
    plan.listed = BackupCatalog::listArchives(plan.deviceFolder);
    const BackupCatalog::Selection selection = BackupCatalog::selectNewestIntact(plan.deviceFolder);
    for (const BackupCatalog::Candidate &candidate : selection.candidates) {
        RestoreCandidate entry;
        entry.candidate = candidate;
        plan.candidates.append(entry);
    }
    if (selection.chosen >= 0)
        plan.candidates[selection.chosen].chosen = true;
    if (!selection.chosenPath.isEmpty()) {
        plan.chosenFileName = QFileInfo(selection.chosenPath).fileName();
        plan.chosenIndex = selection.maxIndex;
    }
    for (RestoreCandidate &entry : plan.candidates)
        entry.verdict = restoreVerdict(entry, plan.chosenIndex);
    std::stable_sort(plan.candidates.begin(), plan.candidates.end(),
                     [](const RestoreCandidate &a, const RestoreCandidate &b) {
                         return a.candidate.index > b.candidate.index;
                     });
    return plan;
}

UpgradePlan planUpgrade(const QString &medium, const Options &options)
{
    UpgradePlan plan;
    plan.script = inspectScript(medium, QString::fromLatin1(kUpgradeScript));
    plan.folder = UpgradeCatalog::packageFolder(medium);
    plan.folderExists = QDir(plan.folder).exists();
    plan.versionKnown = options.versionKnown;
    if (options.versionKnown)
        plan.deviceVersion = Utils::readVersionFromPath(options.versionFile);
    if (!plan.folderExists)
        return plan;
    plan.packages = UpgradeCatalog::listPackages(plan.folder);
    plan.taken = UpgradeCatalog::choosePackage(plan.packages);
    if (plan.taken.isEmpty())
        return plan;
    plan.check = UpgradeCatalog::checkPackage(plan.folder, plan.taken);
    plan.packageVersion = UpgradeCatalog::extractVersion(plan.taken);
    plan.alreadyInstalled
        = plan.check.verified && plan.versionKnown
          && !UpgradeCatalog::sameVersion(plan.taken, plan.deviceVersion).isEmpty();
    return plan;
}

Report inspect(const Options &options)
{
    Report report;
    report.medium = QDir::cleanPath(options.medium);
    report.fileSystem = MediumFileSystem::typeOf(report.medium);
    report.snum = options.snum;
    report.backup = planBackup(report.medium, options.snum);
    report.restore = planRestore(report.medium, options.snum);
    report.upgrade = planUpgrade(report.medium, options);
    report.warnings = findWarnings(report);
    return report;
}

} // namespace MediumCheck
