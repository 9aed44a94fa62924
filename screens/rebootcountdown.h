#ifndef KORVELLO_REBOOTCOUNTDOWN_H
#define KORVELLO_REBOOTCOUNTDOWN_H

#include "screentraits.h"

#include <QString>
#include <QTimer>

class QLabel;

// The countdown that ends every job: five numbered seconds on the screen's
// second line, a last instruction, then the reboot. Each tick arms exactly
// one follow-up timer on the screen, so a job has one countdown at a time.
namespace RebootCountdown {

// What the last tick does once the seconds have run out.
struct FinalStep
{
    QString text;                 // shown just before the reboot
    bool waitForRemoval = false;  // hold and ask for the medium instead
};

// Logs the tick; while seconds are left shows the next one and returns true.
bool countSecond(QLabel *renote, int &rebootCount);
void askForRemoval(QLabel *renote);
void reboot(QLabel *renote, const QString &finalText);

template <typename Screen, typename DecideFinal>
void tick(Screen *screen, void (Screen::*nextTick)(), QLabel *renote, int &rebootCount,
          DecideFinal decideFinal)
{
    if (countSecond(renote, rebootCount)) {
        QTimer::singleShot(Screens::kRebootTickMs, screen, nextTick);
        return;
    }
    const FinalStep final = decideFinal();
    if (final.waitForRemoval) {
        // The count stays at 0, so the next tick comes back here.
        askForRemoval(renote);
        QTimer::singleShot(Screens::kRebootTickMs, screen, nextTick);
        return;
    }
    reboot(renote, final.text);
}

} // namespace RebootCountdown

#endif
