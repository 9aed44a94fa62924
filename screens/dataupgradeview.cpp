#include "dataupgradeview.h"

#include "dataupgradeviewform.h"
#include "jobdecisions.h"
#include "jobends.h"
#include "mediumlayout.h"
#include "platform.h"
#include "screenframe.h"
#include "texts.h"
#include "upgradecatalog.h"
#include "utils.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

using JobEnds::Upgrade;
using Screens::kUpgrade;

namespace {

// Each step sets its note, then the next step runs from a timer, so the note
// is painted before the following step blocks the GUI thread.
constexpr int kPackageNamedDelayMs = 1200;  // package name on screen, then "upgrading"
constexpr int kStartScriptDelayMs = 500;    // "upgrading" on screen, then the script

ScreenFrame::Screen frame(DataUpgradeView *view, Ui_DataUpgradeView *ui)
{
    return {view, kUpgrade, ui->pb_upgraded, ui->label_note, ui->label_renote};
}

} // namespace

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
    ScreenFrame::logStorageRoot(kUpgrade, mPathBackData);
    ui->setupUi(this);
    frame(this, ui).armAutoStart(this, &DataUpgradeView::slot_autoBackUpTimeOut);
}

DataUpgradeView::~DataUpgradeView()
{
    delete ui;
}

void DataUpgradeView::on_pb_upgraded_clicked()
{
    frame(this, ui).startJob(this, &DataUpgradeView::slot_toLoadTimeOut, rebootCount);
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
    frame(this, ui).setNote(text);
}

// When nothing was installed because the device already runs the package's
// version, the medium still holds the package: rebooting with it inserted
// would start the same upgrade again, so the screen waits for its removal.
void DataUpgradeView::handleRebootCount()
{
    frame(this, ui).countdown(this, &DataUpgradeView::slot_toRebootCountTimeOut, rebootCount,
                              [this] {
                                  RebootCountdown::FinalStep final;
                                  if (!alreadyLatest)
                                      final.text = QString::fromUtf8(Texts::kRebootPullTool);
                                  else if (Utils::checkUpgradeDirExists())
                                      final.waitForRemoval = true;
                                  else
                                      final.text = QString::fromUtf8(Texts::kRebootLatest);
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
    return frame(this, ui).runScript(mPathBackData, {snum, QFileInfo(upgradefileName).fileName(),
                                                     QStringLiteral("0"), upgradeDir});
}

// --- Upgrade procedure ---

// Only the last package in list order is verified; when it does not match,
// no earlier package is tried.
QString DataUpgradeView::findUpgradeIndex(QString path)
{
    if (!QDir(path).exists())
        return QString();
    const QStringList listing = UpgradeCatalog::listPackages(path);
    if (const std::optional<Upgrade> end
        = JobDecisions::packageEnd(MediumLayout::FolderState::Exists, listing, nullptr)) {
        qDebug() << "not found right files ";
        updateLabelNote(Texts::note(*end));
        return QString();
    }
    for (const QString &name : listing)
        qDebug() << " updateFils name " << name;
    const QString tmpFileName = UpgradeCatalog::choosePackage(listing);
    qDebug() << "=== " << "findUpgradeIndex" << " tmpFileName " << tmpFileName;

    const UpgradeCatalog::PackageCheck check = UpgradeCatalog::checkPackage(path, tmpFileName);
    const std::optional<Upgrade> end
        = JobDecisions::packageEnd(MediumLayout::FolderState::Exists, listing, &check);
    if (!end)
        return check.path;
    updateLabelNote(Texts::note(*end));
    qDebug() << "=== " << "findUpgradeIndex" << "Error  calMd5 " << check.digests.calMd5
             << " fileMd5 " << check.digests.fileMd5;
    return QString();
}

// Without the folder upgradefileName keeps its value: it is empty anyway, as
// a job runs once per screen. A package folder off the medium, reached
// through a link on it, counts as none.
void DataUpgradeView::checkUpgradeFiles()
{
    const QString path = MediumLayout::packageFolder(mPathBackData);
    qDebug() << "=== " << "checkUpgradeFiles" << " path " << path;
    const MediumLayout::FolderState state = MediumLayout::folderState(mPathBackData, path);
    if (state == MediumLayout::FolderState::Exists) {
        qDebug() << "Path already exists:" << path;
        upgradefileName = findUpgradeIndex(path);
    } else {
        qDebug() << "Error Path not exists:" << path;
        updateLabelNote(Texts::note(*JobDecisions::packageEnd(state, {}, nullptr)));
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
    upgradeDir = MediumLayout::packageFolder(mPathBackData);
    qDebug() << "upgradeDir :" << upgradeDir;

    checkUpgradeFiles();
    if (!upgradefileName.isEmpty()) {
        updateLabelNote(QString::fromUtf8(Texts::kUpgradePackageLead)
                        + QFileInfo(upgradefileName).fileName());
        QTimer::singleShot(kPackageNamedDelayMs, this, &DataUpgradeView::slot_startSHOut);
        return;
    }
    // The note keeps what the package search said.
    handleRebootCount();
}

void DataUpgradeView::slot_startSHOut()
{
    qDebug() << "=== " << "slot_startSHOut";
    updateLabelNote(QString::fromUtf8(Texts::kUpgradeRunning));
    QTimer::singleShot(kStartScriptDelayMs, this, &DataUpgradeView::slot_toRunSHOut);
}

// A device that already runs the package's version gets no script; the
// countdown then waits for the medium to be pulled before it reboots.
void DataUpgradeView::slot_toRunSHOut()
{
    qDebug() << "=== " << "slot_toRunSHOut";
    const QString installed = checkDeviceVerAndUpgradeFileVer();
    if (!installed.isEmpty()) {
        updateLabelNote(Texts::note(Upgrade::AlreadyLatest, installed));
        alreadyLatest = true;
        handleRebootCount();
        return;
    }
    const int result = runCmdSH();
    // The version file is read again only after an exit code of 0, which is
    // not trusted alone: the file must now carry the package's version.
    const bool named = result == 0 && !checkDeviceVerAndUpgradeFileVer().isEmpty();
    if (const std::optional<Upgrade> end = JobDecisions::upgradeEnd(result, named))
        updateLabelNote(Texts::note(*end));
    handleRebootCount();
}
