#include "newdataupgradeview.h"

#include "newdataupgradeviewform.h"
#include "platform.h"
#include "utils.h"

#include <QDebug>

NewDataUpgradeView::NewDataUpgradeView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_NewDataUpgradeView)
    , mPathBackData(QLatin1String(""))
{
    ui->setupUi(this);
    // Unlike the other screens this one chooses its root itself, and leaves
    // it empty for a device type the profile can never hold.
    switch (Utils::getSDevType()) {
    case 1:
        mPathBackData = Platform::resolve(QString::fromLatin1(DevicePaths::kSdCardRoot));
        break;
    case 0:
    case 2:
        mPathBackData = Platform::resolve(QString::fromLatin1(DevicePaths::kUsbRoot));
        break;
    default:
        break;
    }
    qDebug() << "=== " << "NewDataUpgradeView" << " mPathBackData " << mPathBackData;
}

NewDataUpgradeView::~NewDataUpgradeView()
{
    delete ui;
}

void NewDataUpgradeView::on_pb_update_clicked()
{
    qDebug() << "=== " << "on_pb_update_clicked";
    ui->pb_update->setVisible(false);
}
