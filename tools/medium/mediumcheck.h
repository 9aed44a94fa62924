#ifndef KORVELLO_MEDIUM_MEDIUMCHECK_H
#define KORVELLO_MEDIUM_MEDIUMCHECK_H

#include "backupcatalog.h"
#include "devicefit.h"
#include "jobends.h"
#include "mediumhistory.h"
#include "mediumlayout.h"
#include "scriptstate.h"
#include "upgradecatalog.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What the device would do with a medium, job by job, decided by the same
// functions the screens decide by; this tool only words the result. Nothing
// here writes to the medium.
namespace MediumCheck {

struct Options
{
    QString medium; // the storage root: the folder that holds run/
    QString snum;
    bool versionKnown = false;
    QString versionFile; // read by the device's own rule when versionKnown
    QString deviceRoot;  // a copy of the device's "/"; empty: none
};

struct Script
{
    MediumLayout::Script which = MediumLayout::Script::Backup;
    QString name;
    ScriptState state = ScriptState::Missing;
    QString why;            // what keeps an Unstartable script from starting
    bool reference = false; // byte for byte the reference script this tool lays out
};

// Each plan's `end` is the job's end when the medium alone decides it: the
// device stops before its script runs, or the script cannot run, or (for a
// reference script) refuses. Unset, the script runs and its exit code
// decides.
struct BackupPlan
{
    Script script;
    QString deviceFolder;
    MediumLayout::FolderState folder = MediumLayout::FolderState::Missing;
    int nextIndex = 0;
    QString expectedArchive; // with the placeholder time stamp
    QString expectedSideFile;
    std::optional<JobEnds::Backup> end;
};

struct RestorePlan
{
    Script script;
    QString deviceFolder;
    MediumLayout::FolderState folder = MediumLayout::FolderState::Missing;
    QStringList listed;                          // every listed archive, in order
    QVector<BackupCatalog::Candidate> candidates; // newest index first
    BackupCatalog::Selection selection;
    QString chosenFileName;                      // as listed; empty: nothing is restored
    QString restoredFileName;                    // as the script gets it
    int chosenIndex = 0;
    std::optional<DeviceFit::Refusal> device; // judged against --device-root
    std::optional<JobEnds::Restore> end;
};

struct UpgradePlan
{
    Script script;
    QString folder;
    MediumLayout::FolderState folderState = MediumLayout::FolderState::Missing;
    QStringList packages; // in list order
    QString taken;        // empty: no package
    UpgradeCatalog::PackageCheck check;
    QString packageVersion;
    bool versionKnown = false;
    QString deviceVersion;
    bool alreadyInstalled = false;
    std::optional<DeviceFit::Refusal> device; // judged against --device-root
    std::optional<JobEnds::Upgrade> end;
};

struct Report
{
    QString medium;
    QString fileSystem;
    QString snum;
    BackupPlan backup;
    RestorePlan restore;
    UpgradePlan upgrade;
    QStringList warnings;
    MediumHistory::History history; // the scripts' own record of earlier runs
};

// The time stamp stands for the moment the job starts.
constexpr char kTimeStampPlaceholder[] = "YYYYMMDDhhmmss";

Report inspect(const Options &options);
// A path on the medium as the report names it: relative to the medium's folder.
QString onMedium(const QString &medium, const QString &path);
// A name or version as printed: control characters escaped ("\r", "\x1b"),
// so that a carriage return or an escape sequence on a medium shows.
QString shown(const QString &text);
QString render(const Report &report);
QStringList findWarnings(const Report &report);

enum class Job { Backup, Restore, Upgrade };
constexpr Job kJobs[] = {Job::Backup, Job::Restore, Job::Upgrade};
// "backup", "restore", "upgrade": the names --job and the JSON report use.
const char *jobName(Job job);

// The note a job ends on as far as the medium tells. Undecided, the script
// runs and its exit code decides; the note is then the job's success note.
struct Outcome
{
    bool decided = false;
    bool failure = false; // decided, on any note but the job's success note
    QString note;
};
Outcome outcome(const Report &report, Job job);

// Why the restoration takes or passes over one archive.
QString verdict(const BackupCatalog::Candidate &candidate, const RestorePlan &plan);

// The report as one JSON document; its form is tools/medium/check-report.schema.json,
// whose version is kSchema.
constexpr char kSchema[] = "korvello-medium-check/1";
QJsonObject toJson(const Report &report);

} // namespace MediumCheck

#endif
