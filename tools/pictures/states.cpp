#include "screenpictures.h"

namespace ScreenPictures {

// The texts as the screens show them, one row per state. A job's result is
// shown with the first second of its countdown.
const QVector<State> &states()
{
    static const QVector<State> table = {
        {"menu", Screen::Menu, nullptr, nullptr, false},

        {"backup-start", Screen::Backup, "", "", true},
        {"backup-busy", Screen::Backup, "數據備份中，請稍後...", nullptr, false},
        {"backup-folder-failed", Screen::Backup, "創建備份檔夾失敗", "5秒後自動重啟", false},
        {"backup-checking", Screen::Backup, "備份數據檢查中......", nullptr, false},
        {"backup-success", Screen::Backup, " 備份成功 ", "5秒後自動重啟", false},
        {"backup-archive-missing", Screen::Backup, "備份失敗 ：備份檔不存在", "5秒後自動重啟",
         false},
        {"backup-side-file-missing", Screen::Backup, "備份失敗 ：備份檔MD5不不存在",
         "5秒後自動重啟", false},
        {"backup-digest-mismatch", Screen::Backup, "備份失敗 ：備份檔校驗錯誤", "5秒後自動重啟",
         false},
        {"backup-failed", Screen::Backup, "備份失敗", "5秒後自動重啟", false},
        {"backup-script-missing", Screen::Backup, "備份腳本不存在", "5秒後自動重啟", false},
        {"backup-script-not-executable", Screen::Backup, "備份腳本不可運行", "5秒後自動重啟",
         false},
        {"backup-script-not-started", Screen::Backup, "備份腳本運行失敗", "5秒後自動重啟", false},
        {"backup-countdown", Screen::Backup, " 備份成功 ", "1秒後自動重啟", false},
        {"backup-reboot", Screen::Backup, " 備份成功 ", "等待設備重啟，請拔出U盤", false},

        {"recover-start", Screen::Recover, "", "", true},
        {"recover-busy", Screen::Recover, "還原中，請稍後...", nullptr, false},
        {"recover-none", Screen::Recover, "備份檔不存在", "5秒後自動重啟", false},
        {"recover-chosen", Screen::Recover, "備份檔名稱 :data-A7-20240102093000-2.tar", nullptr,
         false},
        {"recover-success", Screen::Recover, "數據還原成功", "5秒後自動重啟", false},
        {"recover-failed", Screen::Recover, "數據還原失敗", "5秒後自動重啟", false},
        {"recover-reboot", Screen::Recover, "數據還原成功", "等待設備重啟，請拔出U盤", false},

        {"upgrade-start", Screen::Upgrade, "", "", true},
        {"upgrade-busy", Screen::Upgrade, "升級包檢測中，請稍後...", nullptr, false},
        {"upgrade-no-package", Screen::Upgrade, "升級包不存在", "5秒後自動重啟", false},
        {"upgrade-checksum-error", Screen::Upgrade, "升級包校驗錯誤", "5秒後自動重啟", false},
        {"upgrade-package", Screen::Upgrade, "升級包名稱 :update-V1.2.tar", nullptr, false},
        {"upgrade-running", Screen::Upgrade, "升级中...", nullptr, false},
        {"upgrade-latest", Screen::Upgrade, "已經是最新版本: V1.2", "5秒後自動重啟", false},
        {"upgrade-success", Screen::Upgrade, "升級成功", "5秒後自動重啟", false},
        {"upgrade-failed", Screen::Upgrade, "升級失敗", "5秒後自動重啟", false},
        {"upgrade-version-unchanged", Screen::Upgrade, "升級失敗,軟體版本未更新", "5秒後自動重啟",
         false},
        {"upgrade-script-missing", Screen::Upgrade, "備份腳本不存在", "5秒後自動重啟", false},
        {"upgrade-script-not-executable", Screen::Upgrade, "備份腳本不可運行", "5秒後自動重啟",
         false},
        {"upgrade-script-not-started", Screen::Upgrade, "備份腳本運行失敗", "5秒後自動重啟", false},
        {"upgrade-remove-medium", Screen::Upgrade, "已經是最新版本: V1.2", "請拔出升級工具設備...",
         false},
        {"upgrade-reboot-latest", Screen::Upgrade, "已經是最新版本: V1.2", "等待設備重啟", false},
        {"upgrade-reboot", Screen::Upgrade, "升級成功", "等待設備重啟，請拔出升級工具設備", false},
    };
    return table;
}

} // namespace ScreenPictures
