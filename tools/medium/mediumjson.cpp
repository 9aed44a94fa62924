#include "mediumcheck.h"

#include "jobdecisions.h"

#include <QFileInfo>
#include <QJsonArray>

// The report for pipelines: the same plans as the text, in the form that
// check-report.schema.json describes. Values are raw (JSON escapes what it
// must); paths are relative to the medium.
namespace MediumCheck {

namespace {

using MediumLayout::FolderState;

const char *stateName(ScriptState state)
{
    switch (state) {
    case ScriptState::Missing:
        return "missing";
    case ScriptState::NotExecutable:
        return "not-executable";
    case ScriptState::Unstartable:
        return "unstartable";
    case ScriptState::Runnable:
        break;
    }
    return "runnable";
}

const char *stateName(FolderState state)
{
    switch (state) {
    case FolderState::Exists:
        return "exists";
    case FolderState::Missing:
        return "missing";
    case FolderState::Blocked:
        return "blocked";
    case FolderState::OffMedium:
        break;
    }
    return "off-medium";
}

QJsonValue stringOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// What every job has: its script, the folder it reads, how it ends.
QJsonObject jobJson(const Report &report, Job job, const Script &script, const QString &folder,
                    FolderState state)
{
    const Outcome end = outcome(report, job);
    const MediumHistory::Run *lastRun = report.history.last(QLatin1String(jobName(job)));
    return QJsonObject{
        {"lastRun", lastRun ? QJsonValue(MediumHistory::toJson(*lastRun)) : QJsonValue()},
        {"script",
         QJsonObject{{"name", script.name},
                     {"state", stateName(script.state)},
                     {"reference", script.reference}}},
        {"folder",
         QJsonObject{{"path", onMedium(report.medium, folder)},
                     {"state", stateName(state)}}},
        {"outcome",
         QJsonObject{{"decided", end.decided}, {"failure", end.failure}, {"note", end.note}}},
    };
}

QJsonObject backupJson(const Report &report)
{
    const BackupPlan &plan = report.backup;
    QJsonObject job = jobJson(report, Job::Backup, plan.script, plan.deviceFolder, plan.folder);
    job.insert("nextIndex", plan.nextIndex);
    job.insert("expectedFiles", plan.nextIndex == BackupCatalog::kNoIndex
                                    ? QJsonArray()
                                    : QJsonArray{plan.expectedArchive, plan.expectedSideFile});
    return job;
}

// Only with --device-root, and a package or archive to judge.
void insertDevice(QJsonObject &job, const std::optional<DeviceFit::Refusal> &device)
{
    if (device)
        job.insert("device", QJsonObject{{"refused", device->refused()},
                                         {"exitCode", device->exitCode},
                                         {"reason", device->why}});
}

QJsonObject restoreJson(const Report &report)
{
    const RestorePlan &plan = report.restore;
    QJsonObject job = jobJson(report, Job::Restore, plan.script, plan.deviceFolder, plan.folder);
    job.insert("listed", QJsonArray::fromStringList(plan.listed));
    QJsonArray candidates;
    for (const BackupCatalog::Candidate &candidate : plan.candidates)
        candidates.append(QJsonObject{{"file", candidate.fileName},
                                      {"index", candidate.index},
                                      {"taken", JobDecisions::candidacy(candidate, plan.selection)
                                                   == JobDecisions::Candidacy::Taken},
                                      {"reason", verdict(candidate, plan)}});
    job.insert("candidates", candidates);
    job.insert("restores", plan.chosenFileName.isEmpty()
                               ? QJsonValue()
                               : QJsonObject{{"file", plan.restoredFileName},
                                             {"index", plan.chosenIndex}});
    insertDevice(job, plan.device);
    return job;
}

QJsonValue checksumJson(const UpgradePlan &plan)
{
    if (plan.taken.isEmpty())
        return QJsonValue();
    const SideFile::Check &digests = plan.check.digests;
    return QJsonObject{{"holds", plan.check.verified()},
                       {"package", stringOrNull(digests.calMd5)},
                       {"sideFile", stringOrNull(digests.fileMd5)},
                       {"sideFileExists", QFileInfo(plan.check.sideFilePath).exists()}};
}

QJsonObject upgradeJson(const Report &report)
{
    const UpgradePlan &plan = report.upgrade;
    QJsonObject job = jobJson(report, Job::Upgrade, plan.script, plan.folder, plan.folderState);
    job.insert("packages", QJsonArray::fromStringList(plan.packages));
    job.insert("takes", stringOrNull(plan.taken));
    job.insert("checksum", checksumJson(plan));
    job.insert("packageVersion", plan.packageVersion);
    job.insert("deviceVersion", plan.versionKnown ? QJsonValue(plan.deviceVersion) : QJsonValue());
    const bool compared = plan.versionKnown && plan.check.verified();
    job.insert("alreadyInstalled", compared ? QJsonValue(plan.alreadyInstalled) : QJsonValue());
    insertDevice(job, plan.device);
    return job;
}

} // namespace

QJsonObject toJson(const Report &report)
{
    return QJsonObject{
        {"schema", kSchema},
        {"medium", report.medium},
        {"fileSystem", report.fileSystem},
        {"snum", report.snum},
        {"jobs",
         QJsonObject{{"backup", backupJson(report)},
                     {"restore", restoreJson(report)},
                     {"upgrade", upgradeJson(report)}}},
        {"warnings", QJsonArray::fromStringList(report.warnings)},
    };
}

} // namespace MediumCheck
