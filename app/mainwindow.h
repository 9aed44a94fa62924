#ifndef KORVELLO_MAINWINDOW_H
#define KORVELLO_MAINWINDOW_H

#include <QMainWindow>

class DataBackupView;
class DataRecoverView;
class DataUpgradeView;
class Ui_MainWindow;

// The tool's only window: the menu of the three jobs. A job's screen opens on
// top of it as a child and stays until the reboot; there is no way back.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void switchItemsShow(bool show);

private slots:
    void on_pb_backup_clicked();
    void on_pb_restoration_clicked();
    void on_pb_upgrade_clicked();

private:
    Ui_MainWindow *ui;
    DataBackupView *mBackupView;
    DataRecoverView *mRecoverView;
    DataUpgradeView *mUpgradeView;
};

#endif
