#include "screentraits.h"

namespace Screens {

const ScreenTraits kBackup = {
    "DataBackupView", "數據備份", "pb_backup", "開始備份",
    1, nullptr, nullptr, "on_pb_backup_clicked",
    100, "數據備份中，請稍後...",
    "runBackupSH", "backup_script.sh", 1, 1, 1,
};

const ScreenTraits kRecover = {
    "DataRecoverView", "數據還原", "pb_recover", "開始還原",
    2, nullptr, "=== ", "on_pb_recover_clicked",
    100, "還原中，請稍後...",
    "runCmdSH", "recover_script.sh", 1, 1, 1,
};

// The upgrade runner tells its own failures apart from any exit code of a
// script (0 to 255), so the procedure can keep the runner's note on screen.
const ScreenTraits kUpgrade = {
    "DataUpgradeView", "軟體升級", "pb_upgraded", "開始升級",
    3, "auto run ", " ====", "on_pb_upgraded_clicked",
    500, "升級包檢測中，請稍後...",
    "runCmdSH", "upgrade_script.sh", -100, -101, -102,
};

} // namespace Screens
