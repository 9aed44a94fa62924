#include "databackupview.h"

#include "databackupviewform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "utils.h"

#include <QDebug>

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

// --- Backup procedure: filled in with the backup job. ---

int DataBackupView::findBackIndex(QString folderPath)
{
    Q_UNUSED(folderPath)
    return 1;
}

void DataBackupView::checkBackIndex()
{
}

void DataBackupView::doDataBackUp()
{
    handleRebootCount();
}

int DataBackupView::checkBackUpFiles()
{
    return -1;
}

void DataBackupView::slot_toCheckTimeOut()
{
    handleRebootCount();
}
