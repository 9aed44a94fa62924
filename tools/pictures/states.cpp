#include "screenpictures.h"

#include "texts.h"

namespace ScreenPictures {

namespace {

// What the sample pictures name: a backup archive, a package and its version.
const char kArchiveName[] = "data-A7-20240102093000-2.tar";
const char kPackageName[] = "update-V1.2.tar";
const char kPackageVersion[] = "V1.2";

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

struct Job
{
    const char *prefix;
    Screen screen;
    const Texts::ScreenTexts &texts;
    const QVector<Texts::End> &ends;
};

// The job's screen before its start, busy, and at each of its ends with the
// first second of the countdown.
void addJob(QVector<State> &states, const Job &job)
{
    const QString prefix = QLatin1String(job.prefix) + QLatin1Char('-');
    states.append({prefix + "start", job.screen, QLatin1String(""), QLatin1String(""), true});
    states.append({prefix + "busy", job.screen, text(job.texts.busy), QString(), false});
    for (const Texts::End &end : job.ends) {
        QString note = text(end.note);
        if (job.screen == Screen::Upgrade && end.end == int(JobEnds::Upgrade::AlreadyLatest))
            note += QLatin1String(kPackageVersion);
        states.append({prefix + end.name, job.screen, note, Texts::secondsLeft(5), false});
    }
}

QVector<State> allStates()
{
    using JobEnds::Upgrade;
    const QString backupGood = Texts::note(JobEnds::Backup::Good);
    const QString restored = Texts::note(JobEnds::Restore::Restored);
    const QString upgraded = Texts::note(Upgrade::Upgraded);
    const QString latest = Texts::note(Upgrade::AlreadyLatest, QLatin1String(kPackageVersion));

    QVector<State> states = {{"menu", Screen::Menu, QString(), QString(), false}};
    addJob(states, {"backup", Screen::Backup, Texts::kBackupScreen, Texts::backupEnds()});
    states += {
        {"backup-checking", Screen::Backup, text(Texts::kBackupChecking), QString(), false},
        {"backup-countdown", Screen::Backup, backupGood, Texts::secondsLeft(1), false},
        {"backup-reboot", Screen::Backup, backupGood, text(Texts::kRebootPullUsb), false},
    };
    addJob(states, {"recover", Screen::Recover, Texts::kRecoverScreen, Texts::restoreEnds()});
    states += {
        {"recover-chosen", Screen::Recover, text(Texts::kRestoreChosenLead) + kArchiveName,
         QString(), false},
        {"recover-reboot", Screen::Recover, restored, text(Texts::kRebootPullUsb), false},
    };
    addJob(states, {"upgrade", Screen::Upgrade, Texts::kUpgradeScreen, Texts::upgradeEnds()});
    states += {
        {"upgrade-package", Screen::Upgrade, text(Texts::kUpgradePackageLead) + kPackageName,
         QString(), false},
        {"upgrade-running", Screen::Upgrade, text(Texts::kUpgradeRunning), QString(), false},
        {"upgrade-remove-medium", Screen::Upgrade, latest, text(Texts::kRemoveTool), false},
        {"upgrade-reboot-latest", Screen::Upgrade, latest, text(Texts::kRebootLatest), false},
        {"upgrade-reboot", Screen::Upgrade, upgraded, text(Texts::kRebootPullTool), false},
    };
    return states;
}

} // namespace

const QVector<State> &states()
{
    static const QVector<State> table = allStates();
    return table;
}

} // namespace ScreenPictures
