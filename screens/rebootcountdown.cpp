#include "rebootcountdown.h"

#include "platform.h"

#include <QDebug>
#include <QLabel>

namespace RebootCountdown {

bool countSecond(QLabel *renote, int &rebootCount)
{
    qDebug() << "=== " << "handleRebootCount" << " rebootCount " << rebootCount;
    if (rebootCount <= 0)
        return false;
    renote->setVisible(true);
    renote->setText(QString::number(rebootCount) + QStringLiteral("秒後自動重啟"));
    --rebootCount;
    return true;
}

void askForRemoval(QLabel *renote)
{
    qDebug() << "=== " << "handleRebootCount" << " remove upgrade device first";
    renote->setText(QStringLiteral("請拔出升級工具設備..."));
}

void reboot(QLabel *renote, const QString &finalText)
{
    renote->setText(finalText);
    qDebug() << "=== " << "handleRebootCount" << " reboot";
    Platform::reboot();
}

QString pullUsbText()
{
    return QStringLiteral("等待設備重啟，請拔出U盤");
}

} // namespace RebootCountdown
