#include "mediumcheck.h"

#include "filesystem.h"
#include "jobdecisions.h"
#include "mediumwriter.h"
#include "onmedium.h"
#include "packageinfo.h"
#include "scriptrunner.h"
#include "texts.h"
#include "utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace MediumCheck {

namespace {

using MediumLayout::FolderState;

bool isReference(const QString &path, const char *name)
{
    QFile copy(path);
    QFile reference(MediumWriter::embeddedScripts() + QLatin1Char('/') + QLatin1String(name));
    if (QFileInfo(path).size() != reference.size())
        return false;
    return copy.open(QIODevice::ReadOnly) && reference.open(QIODevice::ReadOnly)
           && copy.readAll() == reference.readAll();
}

Script inspectScript(const QString &medium, MediumLayout::Script which)
{
    Script script;
    script.which = which;
    script.name = QLatin1String(MediumLayout::scriptName(which));
    const QString path = MediumLayout::scriptPath(medium, which);
    script.state = ScriptRunner::inspect(path, &script.why);
    script.reference = script.state == ScriptState::Runnable
                       && isReference(path, MediumLayout::scriptName(which));
    return script;
}

std::optional<JobEnds::Backup> backupEnd(const BackupPlan &plan)
{
    if (const std::optional<JobEnds::Backup> end = JobDecisions::folderEnd(plan.folder))
        return end;
    if (const std::optional<JobEnds::Backup> end = JobDecisions::indexEnd(plan.nextIndex))
        return end;
    if (plan.script.state != ScriptState::Runnable)
        return JobEnds::runnerEnd(plan.script.state, JobEnds::Backup::Good);
    return std::nullopt;
}

BackupPlan planBackup(const QString &medium, const QString &snum)
{
    BackupPlan plan;
    plan.script = inspectScript(medium, MediumLayout::Script::Backup);
    plan.deviceFolder = MediumLayout::deviceFolder(medium, snum);
    plan.folder = MediumLayout::deviceFolderState(medium, snum);
    // A missing folder is made and numbered; one that cannot be made is never numbered.
    plan.nextIndex = 0;
    if (plan.folder == FolderState::Exists)
        plan.nextIndex = BackupCatalog::nextIndex(plan.deviceFolder);
    else if (plan.folder == FolderState::Missing)
        plan.nextIndex = JobDecisions::kFirstIndex;
    const QString base = MediumLayout::archiveBaseName(
        snum, QString::fromLatin1(kTimeStampPlaceholder), plan.nextIndex);
    plan.expectedArchive = base + QLatin1String(MediumLayout::kArchiveExtension);
    plan.expectedSideFile = base + QLatin1String(MediumLayout::kArchiveSideExtension);
    plan.end = backupEnd(plan);
    return plan;
}

// The reference scripts refuse what the device's own state forbids.
bool refusedByDevice(const Script &script, const std::optional<DeviceFit::Refusal> &device)
{
    return script.reference && device && device->refused();
}

RestorePlan planRestore(const QString &medium, const QString &snum, const QString &deviceRoot)
{
    RestorePlan plan;
    plan.script = inspectScript(medium, MediumLayout::Script::Recover);
    plan.deviceFolder = MediumLayout::deviceFolder(medium, snum);
    plan.folder = MediumLayout::deviceFolderState(medium, snum);
    if (plan.folder != FolderState::Exists) {
        plan.end = JobDecisions::choiceEnd(plan.folder, plan.selection);
        return plan;
    }
    plan.listed = BackupCatalog::listArchives(plan.deviceFolder);
    plan.selection = BackupCatalog::selectNewestIntact(
        plan.deviceFolder,
        [&plan](const BackupCatalog::Candidate &candidate) { plan.candidates << candidate; });
    std::stable_sort(plan.candidates.begin(), plan.candidates.end(),
                     [](const BackupCatalog::Candidate &a, const BackupCatalog::Candidate &b) {
                         return a.index > b.index;
                     });
    const BackupCatalog::Selection &selection = plan.selection;
    plan.end = JobDecisions::choiceEnd(plan.folder, selection);
    if (plan.end)
        return plan;
    plan.chosenFileName = selection.chosenFileName;
    plan.restoredFileName = BackupCatalog::restoredFileName(selection);
    plan.chosenIndex = selection.maxIndex;
    if (!deviceRoot.isEmpty())
        plan.device = DeviceFit::restoration(selection.chosenPath, deviceRoot);
    // Whatever keeps the script from running is the runner's own failure,
    // which the screen ends as it ends any other result of the script.
    if (plan.script.state != ScriptState::Runnable)
        plan.end = JobDecisions::restorationEnd(JobDecisions::kRunnerOwnResultCeiling);
    else if (refusedByDevice(plan.script, plan.device))
        plan.end = JobDecisions::restorationEnd(plan.device->exitCode);
    return plan;
}

std::optional<JobEnds::Upgrade> upgradeEnd(const UpgradePlan &plan)
{
    using JobEnds::Upgrade;
    if (const std::optional<Upgrade> end = JobDecisions::packageEnd(
            plan.folderState, plan.packages, plan.taken.isEmpty() ? nullptr : &plan.check))
        return end;
    if (plan.alreadyInstalled)
        return Upgrade::AlreadyLatest;
    if (plan.script.state != ScriptState::Runnable)
        return JobEnds::runnerEnd(plan.script.state, Upgrade::Upgraded);
    // The reference script writes the version it cuts from the package name,
    // as the device cuts it: without one it refuses the package. Its exit
    // code then ends the job as the screen ends it.
    if (plan.script.reference && plan.packageVersion.isEmpty())
        return JobDecisions::upgradeEnd(DeviceFit::kPackageRefused, false);
    if (refusedByDevice(plan.script, plan.device))
        return JobDecisions::upgradeEnd(plan.device->exitCode, false);
    return std::nullopt;
}

// A layout the script does not take is refused before the device is looked at.
DeviceFit::Refusal deviceRefusal(const QString &package, const QString &deviceRoot)
{
    const PackageInfo::Info info = PackageInfo::inspect(package, deviceRoot);
    if (!info.layoutError.isEmpty())
        return DeviceFit::Refusal{DeviceFit::kPackageRefused, info.layoutError};
    return info.refusal;
}

UpgradePlan planUpgrade(const QString &medium, const Options &options)
{
    UpgradePlan plan;
    plan.script = inspectScript(medium, MediumLayout::Script::Upgrade);
    plan.folder = MediumLayout::packageFolder(medium);
    plan.folderState = MediumLayout::folderState(medium, plan.folder);
    plan.versionKnown = options.versionKnown;
    if (options.versionKnown)
        plan.deviceVersion = Utils::readVersionFromPath(options.versionFile);
    if (plan.folderState == FolderState::Exists) {
        plan.packages = UpgradeCatalog::listPackages(plan.folder);
        plan.taken = UpgradeCatalog::choosePackage(plan.packages);
    }
    if (!plan.taken.isEmpty()) {
        plan.check = UpgradeCatalog::checkPackage(plan.folder, plan.taken);
        plan.packageVersion = UpgradeCatalog::extractVersion(plan.taken);
        plan.alreadyInstalled
            = plan.versionKnown
              && !UpgradeCatalog::sameVersion(plan.taken, plan.deviceVersion).isEmpty();
    }
    if (!options.deviceRoot.isEmpty() && plan.check.verified())
        plan.device
            = deviceRefusal(plan.folder + QLatin1Char('/') + plan.taken, options.deviceRoot);
    plan.end = upgradeEnd(plan);
    return plan;
}

QString noteOf(JobEnds::Backup end, const QString &)
{
    return Texts::note(end);
}

QString noteOf(JobEnds::Restore end, const QString &)
{
    return Texts::note(end);
}

QString noteOf(JobEnds::Upgrade end, const QString &version)
{
    return Texts::note(end, version);
}

template <typename End>
Outcome outcomeOf(const std::optional<End> &end, End success, const QString &version = QString())
{
    Outcome result;
    result.decided = end.has_value();
    result.failure = result.decided && *end != success;
    result.note = noteOf(end.value_or(success), version);
    return result;
}

} // namespace

const char *jobName(Job job)
{
    switch (job) {
    case Job::Backup:
        return "backup";
    case Job::Restore:
        return "restore";
    case Job::Upgrade:
        return "upgrade";
    }
    return "";
}

Outcome outcome(const Report &report, Job job)
{
    switch (job) {
    case Job::Backup:
        return outcomeOf(report.backup.end, JobEnds::Backup::Good);
    case Job::Restore:
        return outcomeOf(report.restore.end, JobEnds::Restore::Restored);
    case Job::Upgrade:
        break;
    }
    return outcomeOf(report.upgrade.end, JobEnds::Upgrade::Upgraded, report.upgrade.packageVersion);
}

QString onMedium(const QString &medium, const QString &path)
{
    // Absolute on both sides: a medium given as a relative path is not taken
    // for one under the current folder.
    return QDir(QFileInfo(medium).absoluteFilePath())
        .relativeFilePath(QFileInfo(path).absoluteFilePath());
}

Report inspect(const Options &options)
{
    Report report;
    report.medium = QDir::cleanPath(options.medium);
    OnMedium::setHostMedium(report.medium);
    report.fileSystem = MediumFileSystem::typeOf(report.medium);
    report.snum = options.snum;
    report.backup = planBackup(report.medium, options.snum);
    report.restore = planRestore(report.medium, options.snum, options.deviceRoot);
    report.upgrade = planUpgrade(report.medium, options);
    report.history = MediumHistory::read(report.medium, options.snum);
    report.warnings = findWarnings(report);
    return report;
}

} // namespace MediumCheck
