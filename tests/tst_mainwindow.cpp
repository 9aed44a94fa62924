#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "formexpect.h"
#include "mainwindow.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

using TestSupport::LogCapture;

namespace {

const QStringList kMenuItems = {"label_title", "pb_backup", "pb_restoration", "pb_upgrade"};

// The maintenance screens that are children of the window.
QStringList screensOf(const MainWindow &window)
{
    QStringList screens;
    for (QObject *child : window.children()) {
        const QString name = QLatin1String(child->metaObject()->className());
        if (name.startsWith(QLatin1String("Data")))
            screens << name;
    }
    return screens;
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

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void form_data();
    void form();
    void window();
    void dispatch_data();
    void dispatch();
    void buttons_data();
    void buttons();
};

void TestMainWindow::cleanup()
{
    Utils::setSDevControlType(0);
}

void TestMainWindow::form_data()
{
    using FormExpect::Widget;
    QTest::addColumn<Widget>("expected");
    const QString label = FormExpect::labelStyleSheet();
    const QString button = FormExpect::buttonStyleSheet();
    const Qt::Alignment centred = Qt::AlignCenter;
    QTest::newRow("label") << Widget{"label", "QLabel", {0, 0, 1920, 720}, 0, 0,
                                     "background-color: rgb(0, 0, 0);", "", {}};
    QTest::newRow("label_title") << Widget{"label_title", "QLabel", {0, 40, 1920, 81}, 18, 75,
                                           label, "工程維護工具", centred};
    QTest::newRow("pb_backup") << Widget{"pb_backup", "QPushButton", {290, 250, 320, 220}, 18, 0,
                                         button, "數據備份", {}};
    QTest::newRow("pb_restoration") << Widget{"pb_restoration", "QPushButton",
                                              {800, 250, 320, 220}, 18, 0, button, "數據還原", {}};
    QTest::newRow("pb_upgrade") << Widget{"pb_upgrade", "QPushButton", {1310, 250, 320, 220}, 18,
                                          0, button, "軟體升級", {}};
    QTest::newRow("label_ver") << Widget{"label_ver", "QLabel", {20, 640, 1001, 61}, 16, 0, label,
                                         Utils::getVerStr(), Qt::AlignLeft | Qt::AlignVCenter};
}

void TestMainWindow::form()
{
    QFETCH(FormExpect::Widget, expected);
    MainWindow window;
    QCOMPARE(FormExpect::mismatch(&window, expected), QString());
}

void TestMainWindow::window()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), QSize(1920, 720));
    QCOMPARE(window.windowTitle(), QStringLiteral("MainWindow"));
    QWidget *central = window.centralWidget();
    QCOMPARE(central->objectName(), QStringLiteral("centralwidget"));
    QCOMPARE(central->styleSheet(), QString());
    QCOMPARE(FormExpect::childOrder(central),
             QStringList({"label", "label_title", "pb_backup", "pb_restoration", "pb_upgrade",
                          "label_ver"}));

    QCOMPARE(FormExpect::slotsOf(window),
             QStringList({"private on_pb_backup_clicked()", "private on_pb_restoration_clicked()",
                          "private on_pb_upgrade_clicked()"}));
}

void TestMainWindow::dispatch_data()
{
    QTest::addColumn<int>("control");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("handler");
    QTest::newRow("0: menu") << 0 << "" << "";
    QTest::newRow("1: backup") << 1 << "DataBackupView" << "on_pb_backup_clicked";
    QTest::newRow("2: restoration") << 2 << "DataRecoverView" << "on_pb_restoration_clicked";
    QTest::newRow("3: upgrade") << 3 << "DataUpgradeView" << "on_pb_upgrade_clicked";
    QTest::newRow("4 is refused: menu") << 4 << "" << "";
}

// The screen is opened while the window is built, before it is shown.
void TestMainWindow::dispatch()
{
    QFETCH(int, control);
    QFETCH(QString, screen);
    QFETCH(QString, handler);
    TestDevice device;
    Utils::setSDevControlType(control);
    LogCapture log;
    MainWindow window;

    QCOMPARE(screensOf(window), screen.isEmpty() ? QStringList() : QStringList(screen));
    QCOMPARE(hiddenMenuItems(window), screen.isEmpty() ? QStringList() : kMenuItems);
    QVERIFY(!window.findChild<QWidget *>("label")->isHidden());
    QCOMPARE(window.findChild<QLabel *>("label_ver")->text(), Utils::getVerStr());
    const int stored = control > 3 ? 0 : control;
    const QStringList lines = log.lines();
    const QString constructed = QStringLiteral("===  MainWindow  getSDevControlType  %1");
    const int at = lines.indexOf(constructed.arg(stored));
    QVERIFY2(at >= 0, qPrintable(lines.join(QLatin1Char('\n'))));
    if (!screen.isEmpty())
        QCOMPARE(lines.value(at + 1), QStringLiteral("===  ") + handler);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!screen.isEmpty())
        QVERIFY(window.findChild<QWidget *>(screen)->isVisible());
}

void TestMainWindow::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("screen");
    QTest::newRow("backup") << "pb_backup" << "DataBackupView";
    QTest::newRow("restoration") << "pb_restoration" << "DataRecoverView";
    QTest::newRow("upgrade") << "pb_upgrade" << "DataUpgradeView";
}

// A press opens the screen as the window's own child (not the central
// widget's), once; a second call of the handler shows the same screen.
void TestMainWindow::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, screen);
    TestDevice device;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString handler = QStringLiteral("on_%1_clicked").arg(button);
    LogCapture log;

    window.findChild<QPushButton *>(button)->click();
    QCOMPARE(log.count(QStringLiteral("===  ") + handler), 1);
    QCOMPARE(screensOf(window), QStringList(screen));
    QWidget *opened = window.findChild<QWidget *>(screen);
    QCOMPARE(opened->parentWidget(), &window);
    QVERIFY(opened->isVisible());
    QCOMPARE(opened->geometry(), QRect(0, 0, 1920, 720));
    QCOMPARE(hiddenMenuItems(window), kMenuItems);
    QVERIFY(window.findChild<QWidget *>("label_ver")->isVisible());

    QVERIFY(QMetaObject::invokeMethod(&window, handler.toLatin1().constData()));
    QCOMPARE(screensOf(window), QStringList(screen));
    QCOMPARE(window.findChild<QWidget *>(screen), opened);
    window.switchItemsShow(true);
    QCOMPARE(hiddenMenuItems(window), QStringList());
}

KORVELLO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
