#ifndef KORVELLO_DATABACKUPVIEW_H
#define KORVELLO_DATABACKUPVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataBackupView;

// The data backup screen: makes a numbered backup on the medium through the
// medium's backup script and verifies it.
class DataBackupView : public QWidget
{
    Q_OBJECT

public:
    explicit DataBackupView(QWidget *parent = nullptr);
    ~DataBackupView() override;

    void handleRebootCount();
    void updateLabelNote(QString text);
    int findBackIndex(QString folderPath);
    void checkBackIndex();
    int runBackupSH();
    void doDataBackUp();
    int checkBackUpFiles();

private slots:
    void on_pb_backup_clicked();
    void slot_autoBackUpTimeOut();
    void slot_toLoadTimeOut();
    void slot_toCheckTimeOut();
    void slot_toRebootCountTimeOut();

private:
    Ui_DataBackupView *ui;
    QString snum;
    int backIndex;
    QString formattedDateTime;
    QString backupDir;
    int rebootCount;
    QString mPathBackData;
};

#endif
