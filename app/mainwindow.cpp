#include "mainwindow.h"

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "mainwindowform.h"
#include "screentraits.h"
#include "utils.h"

#include <QDebug>

namespace {

// Each screen is created on first use as the window's own child and kept for
// the life of the process; a later press only shows it again.
template <typename Screen>
void openScreen(MainWindow *window, Screen *&screen, const char *handlerName)
{
    qDebug() << "=== " << handlerName;
    if (!screen)
        screen = new Screen(window);
    screen->show();
    window->switchItemsShow(false);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , mBackupView(nullptr)
    , mRecoverView(nullptr)
    , mUpgradeView(nullptr)
{
    ui->setupUi(this);
    qDebug() << "=== " << "MainWindow" << " getSDevControlType " << Utils::getSDevControlType();
    // The control value that opens a screen is the one that starts its job.
    const int control = Utils::getSDevControlType();
    if (control == Screens::kBackup.autoStartControl)
        on_pb_backup_clicked();
    else if (control == Screens::kRecover.autoStartControl)
        on_pb_restoration_clicked();
    else if (control == Screens::kUpgrade.autoStartControl)
        on_pb_upgrade_clicked();
    ui->label_ver->setText(Utils::getVerStr());
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::switchItemsShow(bool show)
{
    ui->label_title->setVisible(show);
    ui->pb_backup->setVisible(show);
    ui->pb_restoration->setVisible(show);
    ui->pb_upgrade->setVisible(show);
}

void MainWindow::on_pb_backup_clicked()
{
    openScreen(this, mBackupView, "on_pb_backup_clicked");
}

void MainWindow::on_pb_restoration_clicked()
{
    openScreen(this, mRecoverView, "on_pb_restoration_clicked");
}

void MainWindow::on_pb_upgrade_clicked()
{
    openScreen(this, mUpgradeView, "on_pb_upgrade_clicked");
}
