#include "datarecoverview.h"

#include "backupcatalog.h"
#include "datarecoverviewform.h"
#include "platform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "utils.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

using Screens::kRecover;

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
    ScreenFrame::logStorageRoot(kRecover.className, mPathBackData);
    ui->setupUi(this);
    ScreenFrame::armAutoStart(this, &DataRecoverView::slot_autoBackUpTimeOut, ui->pb_recover,
                              kRecover);
}

DataRecoverView::~DataRecoverView()
{
    delete ui;
}

void DataRecoverView::on_pb_recover_clicked()
{
    ScreenFrame::startJob(this, &DataRecoverView::slot_toLoadTimeOut, kRecover, ui->pb_recover,
                          ui->label_note, ui->label_renote, rebootCount);
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
    ui->label_note->setText(text);
}

void DataRecoverView::handleRebootCount()
{
    RebootCountdown::tick(this, &DataRecoverView::slot_toRebootCountTimeOut, ui->label_renote,
                          rebootCount, [] {
                              return RebootCountdown::FinalStep{RebootCountdown::pullUsbText()};
                          });
}

void DataRecoverView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

int DataRecoverView::runCmdSH()
{
    const QStringList arguments = {snum, QFileInfo(backfileName).fileName(),
                                   QString::number(maxIndex), backupDir};
    return ScriptRunner::run(kRecover, mPathBackData, arguments,
                             [this](const QString &note) { updateLabelNote(note); });
}

// --- Restoration procedure ---

namespace {

// Lets the chosen archive's name be painted before the script blocks the screen.
constexpr int kRunScriptDelayMs = 1000;

// The restoration job's note texts.
constexpr char kNoteNoBackup[] = "備份檔不存在";
constexpr char kNoteChosenLead[] = "備份檔名稱 :";
constexpr char kNoteRestored[] = "數據還原成功";
constexpr char kNoteFailed[] = "數據還原失敗";

void logIfDamaged(const BackupCatalog::Candidate &candidate)
{
    if (candidate.intact)
        return;
    qDebug() << "=== " << "findBackIndex" << "Error  calMd5 " << candidate.calMd5 << " fileMd5 "
             << candidate.fileMd5;
}

} // namespace

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
// folder only means there is nothing to restore.
void DataRecoverView::checkBackIndex()
{
    const QString path = BackupCatalog::deviceFolder(mPathBackData, snum);
    qDebug() << "=== " << "checkBackIndex" << " path " << path;
    if (QFileInfo(path).isDir()) {
        qDebug() << "Path already exists:" << path;
        backfileName = findBackIndex(path);
    } else {
        qDebug() << "Error Path not exists:" << path;
        updateLabelNote(QString::fromUtf8(kNoteNoBackup));
    }
    qDebug() << "=== " << "checkBackIndex" << " backfileName " << backfileName;
}

void DataRecoverView::doDataRecocery()
{
    qDebug() << "=== " << "doDataRecocery";
    snum = Platform::deviceSerial();
    qDebug() << "snum:" << snum;
    backupDir = BackupCatalog::backupDir(mPathBackData);
    qDebug() << "backupDir :" << backupDir;

    checkBackIndex();
    if (backfileName.isEmpty()) {
        updateLabelNote(QString::fromUtf8(kNoteNoBackup));
        handleRebootCount();
        return;
    }
    updateLabelNote(QString::fromUtf8(kNoteChosenLead) + QFileInfo(backfileName).fileName());
    QTimer::singleShot(kRunScriptDelayMs, this, &DataRecoverView::slot_toRunSHOut);
}

// The runner's own failure texts are replaced before the screen repaints:
// whatever went wrong, the user reads one restoration failure.
void DataRecoverView::slot_toRunSHOut()
{
    qDebug() << "=== " << "slot_toRunSHOut";
    const int result = runCmdSH();
    updateLabelNote(QString::fromUtf8(result == 0 ? kNoteRestored : kNoteFailed));
    handleRebootCount();
}
