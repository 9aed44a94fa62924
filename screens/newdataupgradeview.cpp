#include "newdataupgradeview.h"

#include "newdataupgradeviewform.h"
#include "utils.h"

#include <QDebug>

NewDataUpgradeView::NewDataUpgradeView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_NewDataUpgradeView)
    , mPathBackData(QLatin1String(""))
{
    ui->setupUi(this);
    // Every device type the profile can hold has a root (setSDevType refuses
    // the others), so no type leaves this screen without one.
    mPathBackData = Utils::getDevicePath();
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
