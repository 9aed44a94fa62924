#include "dataupgradeview.h"

#include "dataupgradeviewform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "utils.h"

#include <QDebug>
#include <QFileInfo>

using Screens::kUpgrade;

DataUpgradeView::DataUpgradeView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_DataUpgradeView)
    , mPathBackData(Utils::getDevicePath())
    , snum(QLatin1String(""))
    , upgradeDir(QLatin1String(""))
    , upgradefileName(QLatin1String(""))
    , rebootCount(Screens::kRebootSeconds)
    , alreadyLatest(false)
{
    ScreenFrame::logStorageRoot(kUpgrade.className, mPathBackData);
    ui->setupUi(this);
    ScreenFrame::armAutoStart(this, &DataUpgradeView::slot_autoBackUpTimeOut, ui->pb_upgraded,
                              kUpgrade);
}

DataUpgradeView::~DataUpgradeView()
{
    delete ui;
}

void DataUpgradeView::on_pb_upgraded_clicked()
{
    ScreenFrame::startJob(this, &DataUpgradeView::slot_toLoadTimeOut, kUpgrade, ui->pb_upgraded,
                          ui->label_note, ui->label_renote, rebootCount);
}

void DataUpgradeView::slot_autoBackUpTimeOut()
{
    on_pb_upgraded_clicked();
}

void DataUpgradeView::slot_toLoadTimeOut()
{
    qDebug() << "=== " << "slot_toLoadTimeOut";
    doUpgrade();
}

void DataUpgradeView::updateLabelNote(QString text)
{
    ui->label_note->setText(text);
}

// When nothing was installed because the device already runs the package's
// version, the medium still holds the package: rebooting with it inserted
// would start the same upgrade again, so the screen waits for its removal.
void DataUpgradeView::handleRebootCount()
{
    RebootCountdown::tick(this, &DataUpgradeView::slot_toRebootCountTimeOut, ui->label_renote,
                          rebootCount, [this] {
                              RebootCountdown::FinalStep final;
                              if (!alreadyLatest) {
                                  final.text = QStringLiteral("等待設備重啟，請拔出升級工具設備");
                              } else if (Utils::checkUpgradeDirExists()) {
                                  final.waitForRemoval = true;
                              } else {
                                  final.text = QStringLiteral("等待設備重啟");
                              }
                              return final;
                          });
}

void DataUpgradeView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

// The upgrade script always gets "0" as its index: there is none to give.
int DataUpgradeView::runCmdSH()
{
    const QStringList arguments = {snum, QFileInfo(upgradefileName).fileName(),
                                   QStringLiteral("0"), upgradeDir};
    return ScriptRunner::run(kUpgrade, mPathBackData, arguments,
                             [this](const QString &note) { updateLabelNote(note); });
}

// --- Upgrade procedure: filled in with the upgrade job. ---

QString DataUpgradeView::findUpgradeIndex(QString path)
{
    Q_UNUSED(path)
    return QString();
}

void DataUpgradeView::checkUpgradeFiles()
{
}

QString DataUpgradeView::extractVersion(const QString &name)
{
    Q_UNUSED(name)
    return QString();
}

QString DataUpgradeView::checkDeviceVerAndUpgradeFileVer()
{
    return QString();
}

void DataUpgradeView::doUpgrade()
{
    handleRebootCount();
}

void DataUpgradeView::slot_startSHOut()
{
}

void DataUpgradeView::slot_toRunSHOut()
{
}
