#ifndef KORVELLO_DATARECOVERVIEW_H
#define KORVELLO_DATARECOVERVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataRecoverView;

// The data restoration screen: chooses the newest intact backup of this
// device on the medium and has the medium's restoration script restore it.
class DataRecoverView : public QWidget
{
    Q_OBJECT

public:
    explicit DataRecoverView(QWidget *parent = nullptr);
    ~DataRecoverView() override;

    void handleRebootCount();
    void updateLabelNote(QString text);
    QString findBackIndex(QString folderPath);
    void checkBackIndex();
    void doDataRecocery();
    int runCmdSH();

private slots:
    void on_pb_recover_clicked();
    void slot_toLoadTimeOut();
    void slot_toRebootCountTimeOut();
    void slot_toRunSHOut();
    void slot_autoBackUpTimeOut();

private:
    Ui_DataRecoverView *ui;
    int rebootCount;
    QString snum;
    QString backupDir;
    QString backfileName;
    QString mPathBackData;
    int maxIndex;
};

#endif
