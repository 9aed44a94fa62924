#include "screentraits.h"

namespace Screens {

using MediumLayout::Script;

const ScreenTraits kBackup = {
    "DataBackupView", Texts::kBackupScreen, "pb_backup",
    1, nullptr, nullptr, "on_pb_backup_clicked", 100,
    {"runBackupSH", Script::Backup, 1, 1, 1},
};

const ScreenTraits kRecover = {
    "DataRecoverView", Texts::kRecoverScreen, "pb_recover",
    2, nullptr, "=== ", "on_pb_recover_clicked", 100,
    {"runCmdSH", Script::Recover, 1, 1, 1},
};

// The upgrade runner tells its own failures apart from any exit code of a
// script (0 to 255), so the procedure can keep the runner's note on screen.
const ScreenTraits kUpgrade = {
    "DataUpgradeView", Texts::kUpgradeScreen, "pb_upgraded",
    3, "auto run ", " ====", "on_pb_upgraded_clicked", 500,
    {"runCmdSH", Script::Upgrade, -100, -101, -102},
};

} // namespace Screens
