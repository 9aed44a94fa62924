// The menu and how it opens the job screens, by a press or by the control
// value the device starts the tool with. What each screen then does is the
// jobs' suite.

#include "mainwindow.h"
#include "newdataupgradeview.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using TestSupport::LogCapture;
using TestSupport::kSlackMs;

namespace {

const QString kLoadLine = QStringLiteral("===  slot_toLoadTimeOut");
const QStringList kMenuItems = {"label_title", "pb_backup", "pb_restoration", "pb_upgrade"};
const QString kUsb = QStringLiteral("/mnt/usb/sda1");
const QString kSd = QStringLiteral("/mnt/sdcard/mmcblk1p1");

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

} // namespace

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void openScreen_data();
    void openScreen();
};

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
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("medium"); // where the screen looks
    QTest::newRow("control 1") << 1 << "pb_backup" << "DataBackupView" << 100 << 2 << kUsb;
    QTest::newRow("control 2") << 2 << "pb_restoration" << "DataRecoverView" << 100 << 1 << kSd;
    QTest::newRow("control 3") << 3 << "pb_upgrade" << "DataUpgradeView" << 500 << 0 << kUsb;
    QTest::newRow("press pb_backup") << 0 << "pb_backup" << "DataBackupView" << 100 << 1 << kSd;
    QTest::newRow("press pb_restoration") << 0 << "pb_restoration" << "DataRecoverView" << 100
                                          << 2 << kUsb;
    QTest::newRow("press pb_upgrade") << 0 << "pb_upgrade" << "DataUpgradeView" << 500 << 1
                                      << kSd;
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
    QFETCH(int, devType);
    QFETCH(QString, medium);
    TestDevice device;
    Utils::setSDevType(devType);
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
    QCOMPARE(log.lines().filter(QRegularExpression("^===  (MainWindow|on_pb_|\\w+  mPath)")),
             QStringList({QStringLiteral("===  MainWindow  getSDevControlType  %1").arg(control),
                          "===  " + handler,
                          QStringLiteral("===  %1  mPathBackData  \"%2\"")
                              .arg(screen, device.root() + medium)}));
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
    // The alternate upgrade screen, which nothing opens, looks where the job screens look.
    const NewDataUpgradeView alternate;
    const QString root = "===  NewDataUpgradeView  mPathBackData  \"" + device.root() + medium;
    QCOMPARE(log.lines().filter("NewDataUpgradeView"), QStringList(root + '"'));

    if (!control)
        return; // its start button is there to be pressed (above)
    QTRY_VERIFY_WITH_TIMEOUT(log.count(kLoadLine) > 0, 2000 + loadDelay + 10 * kSlackMs);
    // Counted from the screen's creation, where its timer starts: building
    // and showing the window took 2 s of their own under sanitizers on a
    // loaded machine.
    const qint64 loaded = log.elapsedAt(kLoadLine)
        - log.elapsedAt(QStringLiteral("===  %1  mPathBackData").arg(screen));
    QVERIFY2(loaded >= 2000 + loadDelay && loaded <= 2000 + loadDelay + kSlackMs,
             qPrintable(QString::number(loaded)));
}

KORVELLO_TEST_MAIN(TestScreens)
#include "tst_screens.moc"
