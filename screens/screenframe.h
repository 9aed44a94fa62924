#ifndef KORVELLO_SCREENFRAME_H
#define KORVELLO_SCREENFRAME_H

#include "screentraits.h"
#include "utils.h"

#include <QDebug>
#include <QFont>
#include <QString>
#include <QTimer>

class QLabel;
class QPushButton;
class QRect;
class QWidget;

// What the screens and the main window share as forms, and how a maintenance
// screen starts its job. The screens keep their own members and slots and
// hand them in, so the mechanism is written once.
namespace ScreenFrame {

QString buttonStyleSheet();
QString labelStyleSheet();
QFont titleFont();
QFont lineFont();
QFont buttonFont();

// Object name (when it has none) and the fixed screen size.
void prepareScreen(QWidget *screen, const char *className);
QLabel *makeTitle(QWidget *parent);
// The note line (y 190) and the countdown line (y 310).
QLabel *makeLine(QWidget *parent, const char *objectName, int y);
QPushButton *makeButton(QWidget *parent, const char *objectName, const QRect &geometry);
QPushButton *makeStartButton(QWidget *parent, const char *objectName);
// Window title, title and button text through the translation call, then
// the slots by object name; the two lines start empty.
void finishScreen(QWidget *screen, const char *context, QLabel *title, const char *titleText,
                  QPushButton *button, const char *buttonText, QLabel *note, QLabel *renote);
void finishScreen(QWidget *screen, const ScreenTraits &traits, QLabel *title, QPushButton *button,
                  QLabel *note, QLabel *renote);

void logStorageRoot(const char *className, const QString &storageRoot);
void hideButton(QPushButton *button);
void showBusy(const ScreenTraits &traits, QPushButton *button, QLabel *note, QLabel *renote);

// Hides the button and starts the job 2000 ms later when the process was
// started with this screen's control value.
template <typename Screen>
void armAutoStart(Screen *screen, void (Screen::*autoSlot)(), QPushButton *button,
                  const ScreenTraits &traits)
{
    if (Utils::getSDevControlType() != traits.autoStartControl)
        return;
    if (traits.autoRunLog)
        qDebug() << "=== " << traits.className << traits.autoRunLog;
    hideButton(button);
    // From 2000 ms on Qt picks a coarse timer, which may fire up to 5 % early.
    QTimer::singleShot(Screens::kAutoStartDelayMs, Qt::PreciseTimer, screen, autoSlot);
}

// The click handler. The load timer fires only after the handler has
// returned to the event loop, so the busy text is painted before the job
// blocks the GUI thread.
template <typename Screen>
void startJob(Screen *screen, void (Screen::*loadSlot)(), const ScreenTraits &traits,
              QPushButton *button, QLabel *note, QLabel *renote, int &rebootCount)
{
    if (traits.clickLogLead)
        qDebug() << traits.clickLogLead << traits.clickLogName;
    QTimer::singleShot(traits.loadDelayMs, screen, loadSlot);
    showBusy(traits, button, note, renote);
    rebootCount = Screens::kRebootSeconds;
}

} // namespace ScreenFrame

#endif
