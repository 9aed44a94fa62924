#include "databackupview.h"

#include "backupcatalog.h"
#include "databackupviewform.h"
#include "filedigest.h"
#include "medialisting.h"
#include "platform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "utils.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

using Screens::kBackup;

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
    ScreenFrame::logStorageRoot(kBackup.className, mPathBackData);
    ui->setupUi(this);
    ScreenFrame::armAutoStart(this, &DataBackupView::slot_autoBackUpTimeOut, ui->pb_backup,
                              kBackup);
}

DataBackupView::~DataBackupView()
{
    delete ui;
}

void DataBackupView::on_pb_backup_clicked()
{
    ScreenFrame::startJob(this, &DataBackupView::slot_toLoadTimeOut, kBackup, ui->pb_backup,
                          ui->label_note, ui->label_renote, rebootCount);
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
    ui->label_note->setText(text);
}

void DataBackupView::handleRebootCount()
{
    RebootCountdown::tick(this, &DataBackupView::slot_toRebootCountTimeOut, ui->label_renote,
                          rebootCount, [] {
                              return RebootCountdown::FinalStep{RebootCountdown::pullUsbText()};
                          });
}

void DataBackupView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

int DataBackupView::runBackupSH()
{
    const QStringList arguments = {snum, formattedDateTime, QString::number(backIndex), backupDir};
    return ScriptRunner::run(kBackup, mPathBackData, arguments,
                             [this](const QString &note) { updateLabelNote(note); });
}

// --- Backup procedure ---

namespace {

// Lets the checking note be painted before hashing the archive blocks the screen.
constexpr int kCheckDelayMs = 800;
constexpr char kTimeStampFormat[] = "yyyyMMddhhmmss";

// The backup job's note texts.
constexpr char kNoteFolderFailed[] = "創建備份檔夾失敗";
constexpr char kNoteChecking[] = "備份數據檢查中......";
constexpr char kNoteGood[] = " 備份成功 ";
constexpr char kNoteArchiveMissing[] = "備份失敗 ：備份檔不存在";
constexpr char kNoteSideFileMissing[] = "備份失敗 ：備份檔MD5不不存在";
constexpr char kNoteDigestMismatch[] = "備份失敗 ：備份檔校驗錯誤";
constexpr char kNoteFailed[] = "備份失敗";

enum CheckResult {
    kBackupGood = 1,
    kArchiveMissing = -1,
    kSideFileMissing = -2,
    kDigestMismatch = -3,
};

QString checkNote(int result)
{
    if (result >= 0)
        return QString::fromUtf8(kNoteGood);
    switch (result) {
    case kArchiveMissing:
        return QString::fromUtf8(kNoteArchiveMissing);
    case kSideFileMissing:
        return QString::fromUtf8(kNoteSideFileMissing);
    case kDigestMismatch:
        return QString::fromUtf8(kNoteDigestMismatch);
    default:
        return QString::fromUtf8(kNoteFailed);
    }
}

} // namespace

int DataBackupView::findBackIndex(QString folderPath)
{
    bool listedAny = false;
    const int next = BackupCatalog::nextIndex(folderPath, &listedAny);
    if (!listedAny && QFileInfo(folderPath).isDir())
        qDebug() << "not found right files ";
    return next;
}

void DataBackupView::checkBackIndex()
{
    const QString path = BackupCatalog::deviceFolder(mPathBackData, snum);
    qDebug() << "=== " << "checkBackIndex" << " path " << path;
    if (QFileInfo(path).isDir()) {
        qDebug() << "Path already exists:" << path;
        backIndex = findBackIndex(path);
        qDebug() << "=== " << "checkBackIndex" << " backIndex " << backIndex;
        // An index that cannot be numbered refuses the backup like a folder
        // that cannot be made: backIndex 0 runs no script.
        if (backIndex == BackupCatalog::kNoIndex)
            updateLabelNote(QString::fromUtf8(kNoteFailed));
        return;
    }
    if (!QDir().mkpath(path)) {
        qDebug() << "Error Failed to create path:" << path;
        updateLabelNote(QString::fromUtf8(kNoteFolderFailed));
        return;
    }
    qDebug() << "Path created successfully:" << path;
    backIndex = 1;
}

void DataBackupView::doDataBackUp()
{
    snum = Platform::deviceSerial();
    qDebug() << "snum:" << snum;
    // One time stamp names everything of this job, also when the script
    // ends after midnight: the verification looks for this same name.
    formattedDateTime = QDateTime::currentDateTime().toString(QLatin1String(kTimeStampFormat));
    qDebug() << "Formatted DateTime:" << formattedDateTime;
    backupDir = BackupCatalog::backupDir(mPathBackData);
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
    updateLabelNote(QString::fromUtf8(kNoteChecking));
    QTimer::singleShot(kCheckDelayMs, this, &DataBackupView::slot_toCheckTimeOut);
}

int DataBackupView::checkBackUpFiles()
{
    // The names come from this job's fields, not from a listing: an archive
    // the script named otherwise does not count as this backup.
    const QString basePath = BackupCatalog::deviceFolder(mPathBackData, snum) + QLatin1Char('/')
                             + BackupCatalog::archiveBaseName(snum, formattedDateTime, backIndex);
    const QString backUpFileName = basePath + QStringLiteral(".tar");
    const QString backUpMd5FileName = basePath + QStringLiteral(".md5");
    qDebug() << "=== " << "checkBackUpFiles" << " backUpFileName  " << backUpFileName;
    qDebug() << "=== " << "checkBackUpFiles" << " backUpMd5FileName  " << backUpMd5FileName;

    if (!QFileInfo::exists(backUpFileName)) {
        qDebug() << "Error: backUpFile does not exist -" << backUpFileName;
        return kArchiveMissing;
    }
    if (!QFileInfo::exists(backUpMd5FileName)) {
        qDebug() << "Error: backUpMd5File does not exist -" << backUpMd5FileName;
        return kSideFileMissing;
    }
    // The script's writes are still in the page cache, and checking them would
    // vouch for data the medium may never have taken: both files are read
    // from the medium.
    FileDigest::dropCachedPages(backUpFileName);
    FileDigest::dropCachedPages(backUpMd5FileName);
    const QString calMd5 = Utils::calculateFileMD5(backUpFileName);
    const QString fileMd5 = Utils::extractMD5FromFile(backUpMd5FileName);
    qDebug() << "=== " << "checkBackUpFiles" << " calMd5 " << calMd5;
    qDebug() << "=== " << "checkBackUpFiles" << " fileMd5 " << fileMd5;
    // An archive that cannot be read has no digest, and a side file without
    // a valid digest has none either; two empty digests must not make an
    // unreadable archive a good backup, so they count as a mismatch.
    return MediaListing::digestsMatch(calMd5, fileMd5) ? kBackupGood : kDigestMismatch;
}

void DataBackupView::slot_toCheckTimeOut()
{
    qDebug() << "=== " << "slot_toCheckTimeOut";
    updateLabelNote(checkNote(checkBackUpFiles()));
    handleRebootCount();
}
