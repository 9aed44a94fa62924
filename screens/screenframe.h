#ifndef KORVELLO_SCREENFRAME_H
#define KORVELLO_SCREENFRAME_H

#include "rebootcountdown.h"
#include "screentraits.h"
#include "utils.h"

#include <QDebug>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTimer>

class QLabel;
class QPushButton;
class QRect;
class QWidget;

// What the screens and the main window share as forms, and the steps every
// maintenance screen takes alike.
namespace ScreenFrame {

// The device's panel: the main window and every screen fill it.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 720;

QString buttonStyleSheet();
QString labelStyleSheet();
QFont titleFont();
QFont lineFont();
QFont buttonFont();

// Object name (when it has none) and the fixed screen size.
void prepareScreen(QWidget *screen, const char *className);
QLabel *makeTitle(QWidget *parent);
// The note line "label_note" and, below it, the countdown line "label_renote".
QLabel *makeNote(QWidget *parent);
QLabel *makeRenote(QWidget *parent);
QPushButton *makeButton(QWidget *parent, const char *objectName, const QRect &geometry);
QPushButton *makeStartButton(QWidget *parent, const char *objectName);
// Window title, title and button text through the translation call, the two
// lines empty, then the slots by object name.
void finishForm(QWidget *screen, const char *context, QLabel *title, const char *titleText,
                QPushButton *button, const char *buttonText, QLabel *note, QLabel *renote);

// The screen's first debug line, written before its form exists.
void logStorageRoot(const ScreenTraits &traits, const QString &storageRoot);

// One maintenance screen as the shared steps see it: its row of traits and
// its widgets. It holds only pointers, so a screen makes one from its form
// wherever it needs one and keeps exactly its own members.
class Screen
{
public:
    Screen(QWidget *widget, const ScreenTraits &traits, QPushButton *button, QLabel *note,
           QLabel *renote);

    void finishForm(QLabel *title) const;
    void setNote(const QString &text) const;
    // Runs the screen's script from the medium with its four arguments.
    int runScript(const QString &storageRoot, const QStringList &arguments) const;

    // Hides the button and starts the job 2000 ms later when the process was
    // started with this screen's control value.
    template <typename View>
    void armAutoStart(View *view, void (View::*autoSlot)()) const
    {
        if (Utils::getSDevControlType() != mTraits.autoStartControl)
            return;
        if (mTraits.autoRunLog)
            qDebug() << "=== " << mTraits.className << mTraits.autoRunLog;
        hideButton();
        // From 2000 ms on Qt picks a coarse timer, which may fire up to 5 % early.
        QTimer::singleShot(Screens::kAutoStartDelayMs, Qt::PreciseTimer, view, autoSlot);
    }

    // The click handler. The load timer fires only after the handler has
    // returned to the event loop, so the busy text is painted before the job
    // blocks the GUI thread.
    template <typename View>
    void startJob(View *view, void (View::*loadSlot)(), int &rebootCount) const
    {
        if (mTraits.clickLogLead)
            qDebug() << mTraits.clickLogLead << mTraits.clickLogName;
        QTimer::singleShot(mTraits.loadDelayMs, view, loadSlot);
        showBusy();
        rebootCount = Screens::kRebootSeconds;
    }

    // One tick of the countdown that ends every job.
    template <typename View, typename DecideFinal>
    void countdown(View *view, void (View::*nextTick)(), int &rebootCount,
                   DecideFinal decideFinal) const
    {
        RebootCountdown::tick(view, nextTick, mRenote, rebootCount, decideFinal);
    }

private:
    void hideButton() const;
    void showBusy() const;

    QWidget *mWidget;
    const ScreenTraits &mTraits;
    QPushButton *mButton;
    QLabel *mNote;
    QLabel *mRenote;
};

} // namespace ScreenFrame

#endif
