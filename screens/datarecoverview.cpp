#include "datarecoverview.h"

#include "datarecoverviewform.h"
#include "rebootcountdown.h"
#include "screenframe.h"
#include "scriptrunner.h"
#include "utils.h"

#include <QDebug>
#include <QFileInfo>

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

// --- Restoration procedure: filled in with the restoration job. ---

QString DataRecoverView::findBackIndex(QString folderPath)
{
    Q_UNUSED(folderPath)
    return QString();
}

void DataRecoverView::checkBackIndex()
{
}

void DataRecoverView::doDataRecocery()
{
    handleRebootCount();
}

void DataRecoverView::slot_toRunSHOut()
{
    handleRebootCount();
}
