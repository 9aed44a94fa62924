#include "dataupgradeview.h"

#include "dataupgradeviewform.h"
#include "platform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "upgradecatalog.h"
#include "utils.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

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

// --- Upgrade procedure ---

namespace {

// Each step sets its note, then the next step runs from a timer, so the note
// is painted before the following step blocks the GUI thread.
constexpr int kPackageNamedDelayMs = 1200;  // package name on screen, then "upgrading"
constexpr int kStartScriptDelayMs = 500;    // "upgrading" on screen, then the script

// Results at or below this one are the runner's own failures (script
// missing, not executable, not started); its note then stays on screen.
constexpr int kRunnerOwnResultCeiling = -100;

QString noPackageText() { return QStringLiteral("升級包不存在"); }
QString badChecksumText() { return QStringLiteral("升級包校驗錯誤"); }
QString packageNameText() { return QStringLiteral("升級包名稱 :"); }
// Unlike every other text of the screen, its second character is the
// simplified form; kept so on purpose.
QString upgradingText() { return QStringLiteral("升级中..."); }
QString alreadyLatestText() { return QStringLiteral("已經是最新版本: "); }
QString successText() { return QStringLiteral("升級成功"); }
QString versionUnchangedText() { return QStringLiteral("升級失敗,軟體版本未更新"); }
QString failedText() { return QStringLiteral("升級失敗"); }

} // namespace

// Only the last package in list order is verified; when it does not match,
// no earlier package is tried.
QString DataUpgradeView::findUpgradeIndex(QString path)
{
    if (!QDir(path).exists())
        return QString();
    const QStringList listing = UpgradeCatalog::listPackages(path);
    if (listing.isEmpty()) {
        qDebug() << "not found right files ";
        updateLabelNote(noPackageText());
        return QString();
    }
    for (const QString &name : listing)
        qDebug() << " updateFils name " << name;
    const QString tmpFileName = UpgradeCatalog::choosePackage(listing);
    qDebug() << "=== " << "findUpgradeIndex" << " tmpFileName " << tmpFileName;

    const UpgradeCatalog::PackageCheck check = UpgradeCatalog::checkPackage(path, tmpFileName);
    if (check.verified)
        return check.path;
    updateLabelNote(badChecksumText());
    qDebug() << "=== " << "findUpgradeIndex" << "Error  calMd5 " << check.calMd5 << " fileMd5 "
             << check.fileMd5;
    return QString();
}

// Without the folder upgradefileName keeps its value: it is empty anyway, as
// a job runs once per screen.
void DataUpgradeView::checkUpgradeFiles()
{
    const QString path = UpgradeCatalog::packageFolder(mPathBackData);
    qDebug() << "=== " << "checkUpgradeFiles" << " path " << path;
    if (QDir(path).exists()) {
        qDebug() << "Path already exists:" << path;
        upgradefileName = findUpgradeIndex(path);
    } else {
        qDebug() << "Error Path not exists:" << path;
        updateLabelNote(noPackageText());
    }
    qDebug() << "=== " << "checkUpgradeFiles" << " upgradefileName " << upgradefileName;
}

QString DataUpgradeView::extractVersion(const QString &name)
{
    return UpgradeCatalog::extractVersion(name);
}

// The version file is read on every call: after the script it must show
// what the script left there, not what the device ran before.
QString DataUpgradeView::checkDeviceVerAndUpgradeFileVer()
{
    const QString deviceVersion = Utils::ReadVersionFromFile();
    const QString upgradeFileVer = extractVersion(QFileInfo(upgradefileName).fileName());
    qDebug() << "=== " << "checkDeviceVerAndUpgradeFileVer" << " deviceVersion   "
             << deviceVersion;
    qDebug() << "=== " << "checkDeviceVerAndUpgradeFileVer" << " upgradeFileVer "
             << upgradeFileVer;
    return UpgradeCatalog::sameVersion(upgradefileName, deviceVersion);
}

void DataUpgradeView::doUpgrade()
{
    qDebug() << "=== " << "doUpgrade";
    snum = Platform::deviceSerial();
    qDebug() << "snum:" << snum;
    upgradeDir = UpgradeCatalog::packageFolder(mPathBackData);
    qDebug() << "upgradeDir :" << upgradeDir;

    checkUpgradeFiles();
    if (!upgradefileName.isEmpty()) {
        updateLabelNote(packageNameText() + QFileInfo(upgradefileName).fileName());
        QTimer::singleShot(kPackageNamedDelayMs, this, &DataUpgradeView::slot_startSHOut);
        return;
    }
    // The note keeps what the package search said.
    handleRebootCount();
}

void DataUpgradeView::slot_startSHOut()
{
    qDebug() << "=== " << "slot_startSHOut";
    updateLabelNote(upgradingText());
    QTimer::singleShot(kStartScriptDelayMs, this, &DataUpgradeView::slot_toRunSHOut);
}

// A device that already runs the package's version gets no script; the
// countdown then waits for the medium to be pulled before it reboots.
void DataUpgradeView::slot_toRunSHOut()
{
    qDebug() << "=== " << "slot_toRunSHOut";
    const QString installed = checkDeviceVerAndUpgradeFileVer();
    if (!installed.isEmpty()) {
        updateLabelNote(alreadyLatestText() + installed);
        alreadyLatest = true;
        handleRebootCount();
        return;
    }
    const int result = runCmdSH();
    if (result == 0) {
        // An exit code of 0 is not trusted alone: the version file must now
        // carry the package's version.
        const bool updated = !checkDeviceVerAndUpgradeFileVer().isEmpty();
        updateLabelNote(updated ? successText() : versionUnchangedText());
    } else if (result > kRunnerOwnResultCeiling) {
        updateLabelNote(failedText());
    }
    handleRebootCount();
}
