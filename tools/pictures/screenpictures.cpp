#include "screenpictures.h"

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "mainwindow.h"
#include "screentraits.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>

namespace ScreenPictures {

namespace {

const char kSampleVersion[] = "Ver: May 16 2025_11:49:30";

// The slot a press of the menu's button calls, and the screen it opens.
const char *openSlot(Screen screen)
{
    switch (screen) {
    case Screen::Backup:
        return "on_pb_backup_clicked";
    case Screen::Recover:
        return "on_pb_restoration_clicked";
    case Screen::Upgrade:
        return "on_pb_upgrade_clicked";
    case Screen::Menu:
        break;
    }
    return nullptr;
}

const ScreenTraits &traitsOf(Screen screen)
{
    if (screen == Screen::Backup)
        return Screens::kBackup;
    if (screen == Screen::Recover)
        return Screens::kRecover;
    return Screens::kUpgrade;
}

template <typename View>
void applyState(View *view, const State &state)
{
    view->updateLabelNote(state.note);
    auto *renote = view->template findChild<QLabel *>(QStringLiteral("label_renote"));
    renote->setText(state.renote);
    renote->setVisible(!state.renote.isNull());
    const char *buttonName = traitsOf(state.screen).buttonName;
    view->template findChild<QPushButton *>(QString::fromLatin1(buttonName))
        ->setVisible(state.buttonVisible);
}

void applyState(MainWindow *window, const State &state)
{
    switch (state.screen) {
    case Screen::Backup:
        applyState(window->findChild<DataBackupView *>(), state);
        break;
    case Screen::Recover:
        applyState(window->findChild<DataRecoverView *>(), state);
        break;
    case Screen::Upgrade:
        applyState(window->findChild<DataUpgradeView *>(), state);
        break;
    case Screen::Menu:
        break;
    }
}

} // namespace

bool useScreenFont()
{
    if (!QFontDatabase().families().contains(QString::fromLatin1(kFontFamily)))
        return false;
    QApplication::setFont(QFont(QString::fromLatin1(kFontFamily)));
    return true;
}

std::unique_ptr<MainWindow> build(const State &state)
{
    std::unique_ptr<MainWindow> window(new MainWindow);
    if (const char *slot = openSlot(state.screen))
        QMetaObject::invokeMethod(window.get(), slot);
    applyState(window.get(), state);
    // The version line carries the build's date and time: a sample one keeps
    // the pictures the same from build to build.
    window->findChild<QLabel *>(QStringLiteral("label_ver"))->setText(QLatin1String(kSampleVersion));
    window->show();
    QApplication::processEvents();
    return window;
}

QImage render(const State &state)
{
    const std::unique_ptr<MainWindow> window = build(state);
    return window->grab().toImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

} // namespace ScreenPictures
