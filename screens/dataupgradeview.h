#ifndef KORVELLO_DATAUPGRADEVIEW_H
#define KORVELLO_DATAUPGRADEVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataUpgradeView;

// The software upgrade screen: verifies the package on the medium, compares
// its version with the device's, runs the medium's upgrade script and
// confirms the new version.
class DataUpgradeView : public QWidget
{
    Q_OBJECT

public:
    explicit DataUpgradeView(QWidget *parent = nullptr);
    ~DataUpgradeView() override;

    void handleRebootCount();
    void updateLabelNote(QString text);
    QString findUpgradeIndex(QString path);
    void checkUpgradeFiles();
    QString extractVersion(const QString &name);
    QString checkDeviceVerAndUpgradeFileVer();
    void doUpgrade();
    int runCmdSH();

public slots:
    void slot_autoBackUpTimeOut();
    void slot_toLoadTimeOut();
    void slot_toRunSHOut();
    void slot_startSHOut();
    void slot_toRebootCountTimeOut();

private slots:
    void on_pb_upgraded_clicked();

private:
    Ui_DataUpgradeView *ui;
    QString mPathBackData;
    QString snum;
    QString upgradeDir;
    QString upgradefileName;
    int rebootCount;
    bool alreadyLatest;
};

#endif
