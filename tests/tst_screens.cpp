#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"
#include "rebootcountdown.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

using TestSupport::LogCapture;

namespace {

const int kSlackMs = 1500;  // the machine may be busy with other builds
const QString kLoadLine = QStringLiteral("===  slot_toLoadTimeOut");
const QString kTickLine = QStringLiteral("===  handleRebootCount  rebootCount  %1");
const QStringList kMenuItems = {"label_title", "pb_backup", "pb_restoration", "pb_upgrade"};

std::unique_ptr<QWidget> make(const QString &className)
{
    if (className == "MainWindow")
        return std::make_unique<MainWindow>();
    if (className == "DataBackupView")
        return std::make_unique<DataBackupView>();
    if (className == "DataRecoverView")
        return std::make_unique<DataRecoverView>();
    if (className == "DataUpgradeView")
        return std::make_unique<DataUpgradeView>();
    return std::make_unique<NewDataUpgradeView>();
}

QLabel *line(const QWidget &screen, const char *name)
{
    return screen.findChild<QLabel *>(QLatin1String(name));
}

// The job screens among a window's direct children: a screen must hang on
// the window, not on its central widget.
QStringList screensOf(const QWidget &window)
{
    QStringList names;
    for (const QObject *child : window.children()) {
        if (child->inherits("QWidget") && child->objectName().startsWith("Data"))
            names << child->objectName();
    }
    return names;
}

QStringList hiddenMenuItems(const MainWindow &window)
{
    QStringList hidden;
    for (const QString &name : kMenuItems) {
        if (window.findChild<QWidget *>(name)->isHidden())
            hidden << name;
    }
    return hidden;
}

// The upgrade screen's last step after "already the latest version", with
// the count spent: it holds while the medium is inserted.
struct RemovalFixture : QObject
{
    QLabel renote;
    int rebootCount = 0;
    bool mediumInserted = true;

    void handleRebootCount()
    {
        RebootCountdown::tick(this, &RemovalFixture::handleRebootCount, &renote, rebootCount,
                              [this] {
                                  return RebootCountdown::FinalStep{
                                      QStringLiteral("等待設備重啟"), mediumInserted};
                              });
    }
};

} // namespace

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openScreen_data();
    void openScreen();
    void lifecycle_data();
    void lifecycle();
    void waitsForRemoval();
};

void TestScreens::init()
{
    TestSupport::resetRebootCount();
}

void TestScreens::cleanup()
{
    Utils::setSDevType(0);
    Utils::setSDevControlType(0);
}

void TestScreens::openScreen_data()
{
    QTest::addColumn<int>("control");  // 0: opened by a press of the menu button
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<int>("loadDelay");
    QTest::newRow("control 1") << 1 << "pb_backup" << "DataBackupView" << 100;
    QTest::newRow("control 2") << 2 << "pb_restoration" << "DataRecoverView" << 100;
    QTest::newRow("control 3") << 3 << "pb_upgrade" << "DataUpgradeView" << 500;
    QTest::newRow("press pb_backup") << 0 << "pb_backup" << "DataBackupView" << 100;
    QTest::newRow("press pb_restoration") << 0 << "pb_restoration" << "DataRecoverView" << 100;
    QTest::newRow("press pb_upgrade") << 0 << "pb_upgrade" << "DataUpgradeView" << 500;
}

// A control value opens its screen while the window is built, before it is
// shown, and the screen starts its job 2000 ms later plus its load delay,
// its button never seen. Otherwise the menu waits for a press and nothing
// starts. Either way the screen is the window's own child, created once.
void TestScreens::openScreen()
{
    QFETCH(int, control);
    QFETCH(QString, button);
    QFETCH(QString, screen);
    QFETCH(int, loadDelay);
    TestDevice device;
    Utils::setSDevControlType(control);
    LogCapture log;
    MainWindow window;
    QCOMPARE(screensOf(window), control ? QStringList(screen) : QStringList());
    QCOMPARE(hiddenMenuItems(window), control ? kMenuItems : QStringList());
    QCOMPARE(window.findChild<QLabel *>("label_ver")->text(), Utils::getVerStr());
    for (const QPushButton *pressed : window.findChildren<QPushButton *>())
        QCOMPARE(pressed->focusPolicy(), Qt::NoFocus); // no focus frame, ever
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!control)
        window.findChild<QPushButton *>(button)->click();

    const QString handler = QStringLiteral("on_%1_clicked").arg(button);
    QCOMPARE(log.lines().filter(QRegularExpression("^===  (MainWindow|on_pb_)")),
             QStringList({QStringLiteral("===  MainWindow  getSDevControlType  %1").arg(control),
                          "===  " + handler}));
    QCOMPARE(screensOf(window), QStringList(screen));
    QWidget *opened = window.findChild<QWidget *>(screen);
    QVERIFY(opened->isVisible());
    QCOMPARE(opened->geometry(), QRect(0, 0, 1920, 720));
    QCOMPARE(opened->findChild<QPushButton *>()->isHidden(), control != 0);
    QCOMPARE(log.count("===  DataUpgradeView auto run "), int(control == 3));
    QCOMPARE(hiddenMenuItems(window), kMenuItems);
    QVERIFY(window.findChild<QWidget *>("label")->isVisible());
    QVERIFY(window.findChild<QWidget *>("label_ver")->isVisible());
    QVERIFY(QMetaObject::invokeMethod(&window, qPrintable(handler)));
    QCOMPARE(window.findChild<QWidget *>(screen), opened);
    QCOMPARE(screensOf(window), QStringList(screen));

    if (!control)
        return; // its start button is there to be pressed (above)
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(kLoadLine), 2000 + loadDelay + 10 * kSlackMs);
    const qint64 loaded = log.elapsedAt(kLoadLine);
    QVERIFY2(loaded >= 2000 + loadDelay && loaded <= 2000 + loadDelay + kSlackMs,
             qPrintable(QString::number(loaded)));
}

void TestScreens::lifecycle_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("control");        // another screen's: no automatic start
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("root");       // the storage root it logs
    QTest::addColumn<QStringList>("lines");  // of the click handler
    QTest::addColumn<QString>("busyText");   // the alternate screen only hides its button
    QTest::addColumn<int>("loadDelay");      // 0: no job
    QTest::addColumn<QString>("finalText");
    const QString usb = QStringLiteral("/mnt/usb/sda1");
    const QString sd = QStringLiteral("/mnt/sdcard/mmcblk1p1");
    const QString pullUsb = QStringLiteral("等待設備重啟，請拔出U盤");
    QTest::newRow("backup") << "DataBackupView" << 3 << 2 << usb << QStringList()
                            << "數據備份中，請稍後..." << 100 << pullUsb;
    QTest::newRow("restoration") << "DataRecoverView" << 1 << 1 << sd
                                 << QStringList{"===  on_pb_recover_clicked"}
                                 << "還原中，請稍後..." << 100 << pullUsb;
    QTest::newRow("upgrade") << "DataUpgradeView" << 2 << 0 << usb
                             << QStringList{" ==== on_pb_upgraded_clicked"}
                             << "升級包檢測中，請稍後..." << 500
                             << "等待設備重啟，請拔出升級工具設備";
    QTest::newRow("alternate upgrade") << "NewDataUpgradeView" << 3 << 1 << sd
                                       << QStringList{"===  on_pb_update_clicked"} << "" << 0
                                       << "";
}

// Another screen's control value leaves the button to be pressed. A press
// shows the busy text; the job starts from the load timer, once that text
// has had its chance to be painted. With nothing on the medium every job
// ends at once in the countdown: five numbered seconds, the last text and
// one reboot, five seconds after the first tick and never again.
void TestScreens::lifecycle()
{
    QFETCH(QString, className);
    QFETCH(int, control);
    QFETCH(int, devType);
    QFETCH(QString, root);
    QFETCH(QStringList, lines);
    QFETCH(QString, busyText);
    QFETCH(int, loadDelay);
    QFETCH(QString, finalText);
    TestDevice device;
    Utils::setSDevControlType(control);
    Utils::setSDevType(devType);
    LogCapture log;
    const std::unique_ptr<QWidget> screen = make(className);
    QVERIFY(!screen->findChild<QPushButton *>()->isHidden());
    QCOMPARE(log.lines(), QStringList(QStringLiteral("===  %1  mPathBackData  \"%2\"")
                                          .arg(className, device.root() + root)));
    QLabel *renote = line(*screen, "label_renote");
    log.clear();
    screen->findChild<QPushButton *>()->click();
    // Armed just after the handler's own timer, so it fires after that one
    // unless the load delay is too long, however busy the machine is.
    QObject context;
    int loadedFirst = -1;
    QTimer::singleShot(loadDelay * 3 / 2, &context, [&] { loadedFirst = log.contains(kLoadLine); });

    QVERIFY(screen->findChild<QPushButton *>()->isHidden());
    QCOMPARE(line(*screen, "label_note")->text(), busyText);
    QCOMPARE(renote->isHidden(), loadDelay > 0);
    QCOMPARE(log.lines(), lines);
    if (!loadDelay)
        return;
    QTRY_VERIFY_WITH_TIMEOUT(loadedFirst >= 0, 10 * kSlackMs);
    QCOMPARE(loadedFirst, 1);
    QVERIFY2(log.elapsedAt(kLoadLine) >= loadDelay,
             qPrintable(QString::number(log.elapsedAt(kLoadLine))));

    for (int second = 5; second >= 1; --second) {
        const QString text = QString::number(second) + QStringLiteral("秒後自動重啟");
        QTRY_COMPARE_WITH_TIMEOUT(renote->text(), text, 1000 + kSlackMs);
    }
    QVERIFY(!renote->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 1000 + kSlackMs);
    QCOMPARE(renote->text(), finalText);
    const qint64 counted = log.elapsedAt(kTickLine.arg(0)) - log.elapsedAt(kTickLine.arg(5));
    QVERIFY2(counted >= 5000 && counted <= 5000 + kSlackMs, qPrintable(QString::number(counted)));
    for (int count = 5; count >= 0; --count)
        QCOMPARE(log.count(kTickLine.arg(count)), 1);
    QCOMPARE(log.count(QStringLiteral("handleRebootCount")), 7);
}

void TestScreens::waitsForRemoval()
{
    RemovalFixture fixture;
    LogCapture log;
    const QString waitLine = QStringLiteral("===  handleRebootCount  remove upgrade device first");
    fixture.handleRebootCount();
    QCOMPARE(fixture.renote.text(), QStringLiteral("請拔出升級工具設備..."));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(waitLine), 3, 2000 + kSlackMs);
    QCOMPARE(fixture.rebootCount, 0);
    QCOMPARE(TestSupport::rebootCount(), 0);

    fixture.mediumInserted = false;
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 1000 + kSlackMs);
    QCOMPARE(fixture.renote.text(), QStringLiteral("等待設備重啟"));
}

KORVELLO_TEST_MAIN(TestScreens)
#include "tst_screens.moc"
