#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "rebootcountdown.h"
#include "testdevice.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using TestSupport::LogCapture;

namespace {

const int kSlackMs = 1500;

QLabel *renoteOf(const QWidget &screen)
{
    return screen.findChild<QLabel *>(QStringLiteral("label_renote"));
}

// Stands for a screen whose last step waits while the medium is inserted.
class RemovalFixture : public QObject
{
    Q_OBJECT

public:
    QLabel renote;
    int rebootCount = 0;
    bool mediumInserted = true;

    void handleRebootCount()
    {
        RebootCountdown::tick(this, &RemovalFixture::handleRebootCount, &renote, rebootCount,
                              [this] {
                                  RebootCountdown::FinalStep final;
                                  final.waitForRemoval = mediumInserted;
                                  final.text = QStringLiteral("等待設備重啟");
                                  return final;
                              });
    }
};

} // namespace

class TestCountdown : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fullCountdown();
    void clickRestartsCount();
    void waitsForRemoval();
};

void TestCountdown::init()
{
    TestSupport::resetRebootCount();
}

// All three screens count at once: five numbered seconds, the last text,
// one reboot each, about five seconds after the job's one call.
void TestCountdown::fullCountdown()
{
    TestDevice device;
    DataBackupView backup;
    DataRecoverView recover;
    DataUpgradeView upgrade;
    const QList<QWidget *> screens = {&backup, &recover, &upgrade};
    for (QWidget *screen : screens)
        renoteOf(*screen)->setVisible(false);
    LogCapture log;

    backup.handleRebootCount();
    recover.handleRebootCount();
    upgrade.handleRebootCount();
    for (QWidget *screen : screens) {
        QVERIFY(!renoteOf(*screen)->isHidden());
        QCOMPARE(renoteOf(*screen)->text(), QStringLiteral("5秒後自動重啟"));
    }
    for (int second = 4; second >= 1; --second) {
        const QString text = QString::number(second) + QStringLiteral("秒後自動重啟");
        QTRY_COMPARE_WITH_TIMEOUT(renoteOf(backup)->text(), text, 1000 + kSlackMs);
        QTRY_COMPARE_WITH_TIMEOUT(renoteOf(upgrade)->text(), text, kSlackMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 3, 1000 + kSlackMs);
    // The sixth tick runs the final step and the reboot at once.
    const QString tickLine = QStringLiteral("===  handleRebootCount  rebootCount  %1");
    const qint64 rebootedAt = log.elapsedAt(tickLine.arg(0));
    QVERIFY2(rebootedAt >= 5000 && rebootedAt <= 5000 + kSlackMs,
             qPrintable(QString::number(rebootedAt)));
    QCOMPARE(renoteOf(backup)->text(), QStringLiteral("等待設備重啟，請拔出U盤"));
    QCOMPARE(renoteOf(recover)->text(), QStringLiteral("等待設備重啟，請拔出U盤"));
    QCOMPARE(renoteOf(upgrade)->text(), QStringLiteral("等待設備重啟，請拔出升級工具設備"));
    for (int count = 5; count >= 0; --count)
        QCOMPARE(log.count(tickLine.arg(count)), 3);

    // Nothing is armed after the reboot.
    QTest::qWait(1000 + 200);
    QCOMPARE(TestSupport::rebootCount(), 3);
    QCOMPARE(log.count(QStringLiteral("handleRebootCount")), 3 * 7);
}

// A press of the button sets the count back to five and hides the line
// until the next tick shows it again.
void TestCountdown::clickRestartsCount()
{
    TestDevice device;
    DataBackupView screen;
    screen.handleRebootCount();
    QCOMPARE(renoteOf(screen)->text(), QStringLiteral("5秒後自動重啟"));
    screen.findChild<QPushButton *>(QStringLiteral("pb_backup"))->click();
    QVERIFY(renoteOf(screen)->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!renoteOf(screen)->isHidden(), 1000 + kSlackMs);
    QCOMPARE(renoteOf(screen)->text(), QStringLiteral("5秒後自動重啟"));
}

void TestCountdown::waitsForRemoval()
{
    RemovalFixture fixture;
    LogCapture log;
    const QString waitLine = QStringLiteral("===  handleRebootCount  remove upgrade device first");

    fixture.handleRebootCount();
    QCOMPARE(fixture.renote.text(), QStringLiteral("請拔出升級工具設備..."));
    QCOMPARE(log.count(waitLine), 1);
    QTRY_COMPARE_WITH_TIMEOUT(log.count(waitLine), 3, 2000 + kSlackMs);
    QCOMPARE(fixture.rebootCount, 0);
    QCOMPARE(TestSupport::rebootCount(), 0);

    fixture.mediumInserted = false;
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 1000 + kSlackMs);
    QCOMPARE(fixture.renote.text(), QStringLiteral("等待設備重啟"));
    QTest::qWait(1000 + 200);
    QCOMPARE(TestSupport::rebootCount(), 1);
}

KORVELLO_TEST_MAIN(TestCountdown)
#include "tst_countdown.moc"
