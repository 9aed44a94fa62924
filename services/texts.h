#ifndef KORVELLO_TEXTS_H
#define KORVELLO_TEXTS_H

#include "jobends.h"

#include <QString>
#include <QVector>

// Every text the tool shows, in one place. The screens, the pictures tool and
// korvello-medium's report all read them from here. Form texts are source
// texts for QCoreApplication::translate; the others are shown as they stand.
// This file's definitions are the only non-ASCII source of the project.
namespace Texts {

// The menu.
extern const char kMenuTitle[];
extern const char kMenuBackup[];
extern const char kMenuRestore[];
extern const char kMenuUpgrade[];

// What a job screen shows before its job ends.
struct ScreenTexts
{
    const char *title;
    const char *button;
    const char *busy; // set by the start button
};
extern const ScreenTexts kBackupScreen;
extern const ScreenTexts kRecoverScreen;
extern const ScreenTexts kUpgradeScreen;

// Notes between the steps of a job.
extern const char kBackupChecking[];
extern const char kRestoreChosenLead[];  // followed by the archive's name
extern const char kUpgradePackageLead[]; // followed by the package's name
extern const char kUpgradeRunning[];
extern const char kUpgradeLatestLead[];  // followed by the version

// The script runner's own notes, the same on every screen.
extern const char kScriptMissing[];
extern const char kScriptNotExecutable[];
extern const char kScriptNotStarted[];

// The countdown line.
extern const char kSecondsLeft[];        // after the number of seconds
extern const char kRebootPullUsb[];      // backup and restoration
extern const char kRebootPullTool[];     // upgrade after a run or no package
extern const char kRebootLatest[];       // upgrade, version already current
extern const char kRemoveTool[];         // upgrade, waiting for the medium

// How a job ends: the note, and a short name for pictures and reports.
struct End
{
    int end;          // the job's JobEnds value
    const char *name;
    const char *note;
};
const QVector<End> &backupEnds();
const QVector<End> &restoreEnds();
const QVector<End> &upgradeEnds();

QString note(JobEnds::Backup end);
QString note(JobEnds::Restore end);
// The version completes the note of AlreadyLatest.
QString note(JobEnds::Upgrade end, const QString &version = QString());
// The runner's own note for a script it cannot run: the backup's and the
// upgrade's script ends word it alike.
QString runnerNote(ScriptState state);

QString secondsLeft(int seconds);

} // namespace Texts

#endif
