#include "databackupview.h"

#include "backupcatalog.h"
#include "databackupviewform.h"
#include "jobdecisions.h"
#include "jobends.h"
#include "mediumlayout.h"
#include "platform.h"
#include "screenframe.h"
#include "sidefile.h"
#include "texts.h"
#include "utils.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

using JobEnds::Backup;
using Screens::kBackup;

namespace {

// Lets the checking note be painted before hashing the archive blocks the screen.
constexpr int kCheckDelayMs = 800;
constexpr char kTimeStampFormat[] = "yyyyMMddhhmmss";

ScreenFrame::Screen frame(DataBackupView *view, Ui_DataBackupView *ui)
{
    return {view, kBackup, ui->pb_backup, ui->label_note, ui->label_renote};
}

} // namespace

DataBackupView::DataBackupView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_DataBackupView)
    , snum(QLatin1String(""))
    , backIndex(0)
    , formattedDateTime(QLatin1String(""))
    , backupDir(QLatin1String(""))
    , rebootCount(Screens::kRebootSeconds)
    , mPathBackData(Utils::getDevicePath())
{
    ScreenFrame::logStorageRoot(kBackup, mPathBackData);
    ui->setupUi(this);
    frame(this, ui).armAutoStart(this, &DataBackupView::slot_autoBackUpTimeOut);
}

DataBackupView::~DataBackupView()
{
    delete ui;
}

void DataBackupView::on_pb_backup_clicked()
{
    frame(this, ui).startJob(this, &DataBackupView::slot_toLoadTimeOut, rebootCount);
}

void DataBackupView::slot_autoBackUpTimeOut()
{
    on_pb_backup_clicked();
}

void DataBackupView::slot_toLoadTimeOut()
{
    qDebug() << "=== " << "slot_toLoadTimeOut";
    doDataBackUp();
}

void DataBackupView::updateLabelNote(QString text)
{
    frame(this, ui).setNote(text);
}

void DataBackupView::handleRebootCount()
{
    frame(this, ui).countdown(this, &DataBackupView::slot_toRebootCountTimeOut, rebootCount, [] {
        return RebootCountdown::FinalStep{QString::fromUtf8(Texts::kRebootPullUsb)};
    });
}

void DataBackupView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

int DataBackupView::runBackupSH()
{
    return frame(this, ui).runScript(
        mPathBackData, {snum, formattedDateTime, QString::number(backIndex), backupDir});
}

// --- Backup procedure ---

int DataBackupView::findBackIndex(QString folderPath)
{
    bool listedAny = false;
    const int next = BackupCatalog::nextIndex(folderPath, &listedAny);
    if (!listedAny && QDir(folderPath).exists())
        qDebug() << "not found right files ";
    return next;
}

// A device folder that would lie off the medium, through a link on the
// medium, is refused like one that cannot be made: the backup must never be
// written anywhere else.
void DataBackupView::checkBackIndex()
{
    const QString path = MediumLayout::deviceFolder(mPathBackData, snum);
    qDebug() << "=== " << "checkBackIndex" << " path " << path;
    const MediumLayout::FolderState state = MediumLayout::deviceFolderState(mPathBackData, snum);
    if (state == MediumLayout::FolderState::Exists) {
        qDebug() << "Path already exists:" << path;
        backIndex = findBackIndex(path);
        qDebug() << "=== " << "checkBackIndex" << " backIndex " << backIndex;
        if (const std::optional<Backup> end = JobDecisions::indexEnd(backIndex))
            updateLabelNote(Texts::note(*end));
        return;
    }
    if (!JobDecisions::folderEnd(state) && QDir().mkpath(path)) {
        qDebug() << "Path created successfully:" << path;
        backIndex = JobDecisions::kFirstIndex;
        return;
    }
    qDebug() << "Error Failed to create path:" << path;
    updateLabelNote(Texts::note(Backup::FolderFailed));
}

void DataBackupView::doDataBackUp()
{
    snum = Platform::deviceSerial();
    qDebug() << "snum:" << snum;
    // One time stamp names everything of this job, also when the script
    // ends after midnight: the verification looks for this same name.
    formattedDateTime = QDateTime::currentDateTime().toString(QLatin1String(kTimeStampFormat));
    qDebug() << "Formatted DateTime:" << formattedDateTime;
    backupDir = MediumLayout::backupDir(mPathBackData);
    qDebug() << "backupDir :" << backupDir;

    checkBackIndex();
    if (backIndex == 0) {
        handleRebootCount();
        return;
    }
    if (runBackupSH() != 0) {
        handleRebootCount();
        return;
    }
    updateLabelNote(QString::fromUtf8(Texts::kBackupChecking));
    QTimer::singleShot(kCheckDelayMs, this, &DataBackupView::slot_toCheckTimeOut);
}

int DataBackupView::checkBackUpFiles()
{
    const JobDecisions::BackupFiles files
        = JobDecisions::backupFiles(mPathBackData, snum, formattedDateTime, backIndex);
    qDebug() << "=== " << "checkBackUpFiles" << " backUpFileName  " << files.archive;
    qDebug() << "=== " << "checkBackUpFiles" << " backUpMd5FileName  " << files.sideFile;
    const JobDecisions::BackupCheck check = JobDecisions::verifyBackup(files);
    if (check.code == JobDecisions::kArchiveMissing) {
        qDebug() << "Error: backUpFile does not exist -" << files.archive;
    } else if (check.code == JobDecisions::kSideFileMissing) {
        qDebug() << "Error: backUpMd5File does not exist -" << files.sideFile;
    } else {
        qDebug() << "=== " << "checkBackUpFiles" << " calMd5 " << check.digests.calMd5;
        qDebug() << "=== " << "checkBackUpFiles" << " fileMd5 " << check.digests.fileMd5;
    }
    return check.code;
}

void DataBackupView::slot_toCheckTimeOut()
{
    qDebug() << "=== " << "slot_toCheckTimeOut";
    updateLabelNote(Texts::note(JobEnds::backupVerified(checkBackUpFiles())));
    handleRebootCount();
}
