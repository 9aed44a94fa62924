#include "rebootcountdown.h"

#include "platform.h"
#include "texts.h"

#include <QDebug>
#include <QLabel>

namespace RebootCountdown {

bool countSecond(QLabel *renote, int &rebootCount)
{
    qDebug() << "=== " << "handleRebootCount" << " rebootCount " << rebootCount;
    if (rebootCount <= 0)
        return false;
    renote->setVisible(true);
    renote->setText(Texts::secondsLeft(rebootCount));
    --rebootCount;
    return true;
}

void askForRemoval(QLabel *renote)
{
    qDebug() << "=== " << "handleRebootCount" << " remove upgrade device first";
    renote->setText(QString::fromUtf8(Texts::kRemoveTool));
}

void reboot(QLabel *renote, const QString &finalText)
{
    renote->setText(finalText);
    qDebug() << "=== " << "handleRebootCount" << " reboot";
    Platform::reboot();
}

} // namespace RebootCountdown
