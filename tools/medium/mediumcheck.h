#ifndef KORVELLO_MEDIUM_MEDIUMCHECK_H
#define KORVELLO_MEDIUM_MEDIUMCHECK_H

#include "backupcatalog.h"
#include "upgradecatalog.h"

#include <QString>
#include <QStringList>

// What the device would do with a medium, job by job, decided by the same
// catalog code the screens call. Nothing here writes to the medium.
namespace MediumCheck {

struct Options
{
    QString medium; // the storage root: the folder that holds run/
    QString snum;
    bool versionKnown = false;
    QString versionFile; // read by the device's own rule when versionKnown
};

struct Script
{
    QString name;
    bool present = false;
    bool executable = false;
    bool runnable() const { return present && executable; }
};

struct BackupPlan
{
    Script script;
    QString deviceFolder;
    bool folderExists = false;
    bool folderBlocked = false; // something other than a folder stands there
    int nextIndex = 0;          // 0: the device runs no script
    QString expectedArchive;    // with the placeholder time stamp
    QString expectedSideFile;
};

struct RestoreCandidate
{
    BackupCatalog::Candidate candidate;
    bool chosen = false;
    QString verdict; // why it is chosen or passed over
};

struct RestorePlan
{
    Script script;
    QString deviceFolder;
    bool folderExists = false;
    QStringList listed;                   // every listed archive, in order
    QVector<RestoreCandidate> candidates; // newest index first
    QString chosenFileName;               // empty: nothing is restored
    int chosenIndex = 0;
};

struct UpgradePlan
{
    Script script;
    QString folder;
    bool folderExists = false;
    QStringList packages; // in list order
    QString taken;        // empty: no package
    UpgradeCatalog::PackageCheck check;
    QString packageVersion;
    bool versionKnown = false;
    QString deviceVersion;
    bool alreadyInstalled = false;
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
};

// The time stamp stands for the moment the job starts.
constexpr char kTimeStampPlaceholder[] = "YYYYMMDDhhmmss";

Script inspectScript(const QString &medium, const QString &name);
BackupPlan planBackup(const QString &medium, const QString &snum);
RestorePlan planRestore(const QString &medium, const QString &snum);
UpgradePlan planUpgrade(const QString &medium, const Options &options);
QStringList findWarnings(const Report &report);

Report inspect(const Options &options);
QString render(const Report &report);

} // namespace MediumCheck

#endif
