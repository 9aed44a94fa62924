#include "datarecoverview.h"

#include "backupcatalog.h"
#include "datarecoverviewform.h"
#include "jobdecisions.h"
#include "jobends.h"
#include "mediumlayout.h"
#include "platform.h"
#include "screenframe.h"
#include "texts.h"
#include "utils.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

using JobEnds::Restore;
using Screens::kRecover;

namespace {

// Lets the chosen archive's name be painted before the script blocks the screen.
constexpr int kRunScriptDelayMs = 1000;

ScreenFrame::Screen frame(DataRecoverView *view, Ui_DataRecoverView *ui)
{
    return {view, kRecover, ui->pb_recover, ui->label_note, ui->label_renote};
}

void logIfDamaged(const BackupCatalog::Candidate &candidate)
{
    if (candidate.intact())
        return;
    qDebug() << "=== " << "findBackIndex" << "Error  calMd5 " << candidate.digests.calMd5
             << " fileMd5 " << candidate.digests.fileMd5;
}

} // namespace

DataRecoverView::DataRecoverView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_DataRecoverView)
    , rebootCount(Screens::kRebootSeconds)
    , snum(QLatin1String(""))
    , backupDir(QLatin1String(""))
    , backfileName(QLatin1String(""))
    , mPathBackData(Utils::getDevicePath())
    , maxIndex(0)
{
    ScreenFrame::logStorageRoot(kRecover, mPathBackData);
    ui->setupUi(this);
    frame(this, ui).armAutoStart(this, &DataRecoverView::slot_autoBackUpTimeOut);
}

DataRecoverView::~DataRecoverView()
{
    delete ui;
}

void DataRecoverView::on_pb_recover_clicked()
{
    frame(this, ui).startJob(this, &DataRecoverView::slot_toLoadTimeOut, rebootCount);
}

void DataRecoverView::slot_autoBackUpTimeOut()
{
    on_pb_recover_clicked();
}

void DataRecoverView::slot_toLoadTimeOut()
{
    qDebug() << "=== " << "slot_toLoadTimeOut";
    doDataRecocery();
}

void DataRecoverView::updateLabelNote(QString text)
{
    frame(this, ui).setNote(text);
}

void DataRecoverView::handleRebootCount()
{
    frame(this, ui).countdown(this, &DataRecoverView::slot_toRebootCountTimeOut, rebootCount, [] {
        return RebootCountdown::FinalStep{QString::fromUtf8(Texts::kRebootPullUsb)};
    });
}

void DataRecoverView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

int DataRecoverView::runCmdSH()
{
    return frame(this, ui).runScript(mPathBackData, {snum, QFileInfo(backfileName).fileName(),
                                                     QString::number(maxIndex), backupDir});
}

// --- Restoration procedure ---

QString DataRecoverView::findBackIndex(QString folderPath)
{
    const BackupCatalog::Selection selection =
        BackupCatalog::selectNewestIntact(folderPath, logIfDamaged);
    if (!selection.folderExists)
        return QString();
    // maxIndex keeps its value unless at least one archive was listed.
    if (!selection.listedAny) {
        qDebug() << "not found right files ";
        return QString();
    }
    qDebug() << "=== " << "findBackIndex" << " maxIndex " << selection.maxIndex;
    maxIndex = selection.maxIndex;
    return selection.chosenPath;
}

// Unlike the backup side this never creates the device folder: a missing
// folder only means there is nothing to restore. Nor is a folder off the
// medium, reached through a link on it, ever restored from.
void DataRecoverView::checkBackIndex()
{
    const QString path = MediumLayout::deviceFolder(mPathBackData, snum);
    qDebug() << "=== " << "checkBackIndex" << " path " << path;
    if (MediumLayout::deviceFolderState(mPathBackData, snum) == MediumLayout::FolderState::Exists) {
        qDebug() << "Path already exists:" << path;
        backfileName = findBackIndex(path);
    } else {
        qDebug() << "Error Path not exists:" << path;
        updateLabelNote(Texts::note(Restore::NoBackup));
    }
    qDebug() << "=== " << "checkBackIndex" << " backfileName " << backfileName;
}

void DataRecoverView::doDataRecocery()
{
    qDebug() << "=== " << "doDataRecocery";
    snum = Platform::deviceSerial();
    qDebug() << "snum:" << snum;
    backupDir = MediumLayout::backupDir(mPathBackData);
    qDebug() << "backupDir :" << backupDir;

    checkBackIndex();
    if (backfileName.isEmpty()) {
        updateLabelNote(Texts::note(Restore::NoBackup));
        handleRebootCount();
        return;
    }
    updateLabelNote(QString::fromUtf8(Texts::kRestoreChosenLead)
                    + QFileInfo(backfileName).fileName());
    QTimer::singleShot(kRunScriptDelayMs, this, &DataRecoverView::slot_toRunSHOut);
}

// The runner's own failure texts are replaced before the screen repaints:
// whatever went wrong, the user reads one restoration failure.
void DataRecoverView::slot_toRunSHOut()
{
    qDebug() << "=== " << "slot_toRunSHOut";
    const int result = runCmdSH();
    updateLabelNote(Texts::note(JobDecisions::restorationEnd(result)));
    handleRebootCount();
}
