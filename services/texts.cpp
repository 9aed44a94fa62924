#include "texts.h"

namespace Texts {

const char kMenuTitle[] = "工程維護工具";
const char kMenuBackup[] = "數據備份";
const char kMenuRestore[] = "數據還原";
const char kMenuUpgrade[] = "軟體升級";

const ScreenTexts kBackupScreen = {"數據備份", "開始備份", "數據備份中，請稍後..."};
const ScreenTexts kRecoverScreen = {"數據還原", "開始還原", "還原中，請稍後..."};
const ScreenTexts kUpgradeScreen = {"軟體升級", "開始升級", "升級包檢測中，請稍後..."};

const char kBackupChecking[] = "備份數據檢查中......";
const char kRestoreChosenLead[] = "備份檔名稱 :";
const char kUpgradePackageLead[] = "升級包名稱 :";
// Unlike every other text of the upgrade screen, the second character is
// the simplified form; kept so on purpose.
const char kUpgradeRunning[] = "升级中...";
const char kUpgradeLatestLead[] = "已經是最新版本: ";

const char kScriptMissing[] = "備份腳本不存在";
const char kScriptNotExecutable[] = "備份腳本不可運行";
const char kScriptNotStarted[] = "備份腳本運行失敗";

const char kSecondsLeft[] = "秒後自動重啟";
const char kRebootPullUsb[] = "等待設備重啟，請拔出U盤";
const char kRebootPullTool[] = "等待設備重啟，請拔出升級工具設備";
const char kRebootLatest[] = "等待設備重啟";
const char kRemoveTool[] = "請拔出升級工具設備...";

namespace {

QString noteIn(const QVector<End> &table, int end)
{
    for (const End &entry : table) {
        if (entry.end == end)
            return QString::fromUtf8(entry.note);
    }
    return QString();
}

} // namespace

const QVector<End> &backupEnds()
{
    using JobEnds::Backup;
    static const QVector<End> table = {
        {int(Backup::FolderFailed), "folder-failed", "創建備份檔夾失敗"},
        {int(Backup::Failed), "failed", "備份失敗"},
        {int(Backup::ScriptMissing), "script-missing", kScriptMissing},
        {int(Backup::ScriptNotExecutable), "script-not-executable", kScriptNotExecutable},
        {int(Backup::ScriptNotStarted), "script-not-started", kScriptNotStarted},
        // The script ran and failed: the note keeps the busy text.
        {int(Backup::ScriptFailed), "script-failed", kBackupScreen.busy},
        {int(Backup::ArchiveMissing), "archive-missing", "備份失敗 ：備份檔不存在"},
        {int(Backup::SideFileMissing), "side-file-missing", "備份失敗 ：備份檔MD5不不存在"},
        {int(Backup::DigestMismatch), "digest-mismatch", "備份失敗 ：備份檔校驗錯誤"},
        {int(Backup::Good), "success", " 備份成功 "},
    };
    return table;
}

const QVector<End> &restoreEnds()
{
    using JobEnds::Restore;
    static const QVector<End> table = {
        {int(Restore::NoBackup), "none", "備份檔不存在"},
        // The runner's own notes are replaced at once by this one.
        {int(Restore::Failed), "failed", "數據還原失敗"},
        {int(Restore::Restored), "success", "數據還原成功"},
    };
    return table;
}

const QVector<End> &upgradeEnds()
{
    using JobEnds::Upgrade;
    static const QVector<End> table = {
        {int(Upgrade::NoPackage), "no-package", "升級包不存在"},
        {int(Upgrade::BadChecksum), "checksum-error", "升級包校驗錯誤"},
        {int(Upgrade::AlreadyLatest), "latest", kUpgradeLatestLead},
        {int(Upgrade::ScriptMissing), "script-missing", kScriptMissing},
        {int(Upgrade::ScriptNotExecutable), "script-not-executable", kScriptNotExecutable},
        {int(Upgrade::ScriptNotStarted), "script-not-started", kScriptNotStarted},
        {int(Upgrade::Failed), "failed", "升級失敗"},
        {int(Upgrade::VersionUnchanged), "version-unchanged", "升級失敗,軟體版本未更新"},
        {int(Upgrade::Upgraded), "success", "升級成功"},
    };
    return table;
}

QString note(JobEnds::Backup end)
{
    return noteIn(backupEnds(), int(end));
}

QString runnerNote(ScriptState state)
{
    return note(JobEnds::runnerEnd(state, JobEnds::Backup::ScriptFailed));
}

QString note(JobEnds::Restore end)
{
    return noteIn(restoreEnds(), int(end));
}

QString note(JobEnds::Upgrade end, const QString &version)
{
    const QString text = noteIn(upgradeEnds(), int(end));
    return end == JobEnds::Upgrade::AlreadyLatest ? text + version : text;
}

QString secondsLeft(int seconds)
{
    return QString::number(seconds) + QString::fromUtf8(kSecondsLeft);
}

} // namespace Texts
