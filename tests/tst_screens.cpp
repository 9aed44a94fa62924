#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "formexpect.h"
#include "newdataupgradeview.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

#include <memory>

using TestSupport::LogCapture;

namespace {

const int kSlackMs = 1500;  // the machine may be busy with other builds
const QString kLoadLine = QStringLiteral("===  slot_toLoadTimeOut");

std::unique_ptr<QWidget> makeScreen(const QString &className)
{
    if (className == "DataBackupView")
        return std::make_unique<DataBackupView>();
    if (className == "DataRecoverView")
        return std::make_unique<DataRecoverView>();
    if (className == "DataUpgradeView")
        return std::make_unique<DataUpgradeView>();
    return std::make_unique<NewDataUpgradeView>();
}

QPushButton *buttonOf(const QWidget &screen)
{
    return screen.findChild<QPushButton *>();
}

QLabel *line(const QWidget &screen, const char *name)
{
    return screen.findChild<QLabel *>(QLatin1String(name));
}

} // namespace

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void form_data();
    void form();
    void autoStart_data();
    void autoStart();
    void click_data();
    void click();
};

void TestScreens::cleanup()
{
    Utils::setSDevType(0);
    Utils::setSDevControlType(0);
}

void TestScreens::form_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QStringList>("methods");
    QTest::addColumn<int>("devType");
    const QString p = QStringLiteral("private ");
    const QString auto_ = QStringLiteral("slot_autoBackUpTimeOut()");
    const QString load = QStringLiteral("slot_toLoadTimeOut()");
    const QString reboot = QStringLiteral("slot_toRebootCountTimeOut()");
    const QString runSH = QStringLiteral("slot_toRunSHOut()");
    QTest::newRow("backup") << "DataBackupView"
        << QStringList{"label_title", "pb_backup", "label_note", "label_renote"}
        << "數據備份" << "開始備份"
        << QStringList{p + "on_pb_backup_clicked()", p + auto_, p + load,
                       p + "slot_toCheckTimeOut()", p + reboot} << 1;
    QTest::newRow("restoration") << "DataRecoverView"
        << QStringList{"label_title", "label_renote", "label_note", "pb_recover"}
        << "數據還原" << "開始還原"
        << QStringList{p + "on_pb_recover_clicked()", p + load, p + reboot, p + runSH, p + auto_}
        << 2;
    QTest::newRow("upgrade") << "DataUpgradeView"
        << QStringList{"label_note", "label_title", "pb_upgraded", "label_renote"}
        << "軟體升級" << "開始升級"
        << QStringList{"public " + auto_, "public " + load, "public " + runSH,
                       "public slot_startSHOut()", "public " + reboot,
                       p + "on_pb_upgraded_clicked()"} << 0;
    QTest::newRow("alternate upgrade") << "NewDataUpgradeView"
        << QStringList{"label_renote", "label_title", "pb_update", "label_note"}
        << "數據備份" << "開始備份" << QStringList{p + "on_pb_update_clicked()"} << 1;
}

void TestScreens::form()
{
    QFETCH(QString, className);
    QFETCH(QStringList, order);
    QFETCH(QString, title);
    QFETCH(QString, buttonText);
    QFETCH(QStringList, methods);
    QFETCH(int, devType);
    TestDevice device;
    Utils::setSDevType(devType);
    LogCapture log;
    const std::unique_ptr<QWidget> screen = makeScreen(className);
    const QString root = devType == 1 ? "/mnt/sdcard/mmcblk1p1" : "/mnt/usb/sda1";
    QCOMPARE(log.lines(), QStringList(QStringLiteral("===  %1  mPathBackData  \"%2\"")
                                          .arg(className, device.root() + root)));

    QCOMPARE(screen->objectName(), className);
    QCOMPARE(screen->size(), QSize(1920, 720));
    QCOMPARE(screen->windowTitle(), QStringLiteral("Form"));
    QCOMPARE(FormExpect::childOrder(screen.get()), order);
    QCOMPARE(FormExpect::slotsOf(*screen), methods);
    const QString label = FormExpect::labelStyleSheet();
    const QList<FormExpect::Widget> widgets = {
        {"label_title", "QLabel", {0, 40, 1920, 81}, 18, 75, label, title, Qt::AlignCenter},
        {"label_note", "QLabel", {0, 190, 1920, 81}, 16, 50, label, "", Qt::AlignCenter},
        {"label_renote", "QLabel", {0, 310, 1920, 81}, 16, 50, label, "", Qt::AlignCenter},
        {buttonOf(*screen)->objectName(), "QPushButton", {800, 450, 320, 81}, 18, 0,
         FormExpect::buttonStyleSheet(), buttonText, {}}};
    for (const FormExpect::Widget &widget : widgets) {
        const QString differs = FormExpect::mismatch(screen.get(), widget);
        QVERIFY2(differs.isEmpty(), qPrintable(widget.name + ": " + differs));
    }
}

void TestScreens::autoStart_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("control");
    QTest::addColumn<QString>("clickLine");  // empty: the handler writes none
    QTest::addColumn<int>("loadDelay");      // -1: nothing starts
    QTest::newRow("backup, 1") << "DataBackupView" << 1 << "" << 100;
    QTest::newRow("restoration, 2") << "DataRecoverView" << 2 << "===  on_pb_recover_clicked"
                                    << 100;
    QTest::newRow("upgrade, 3") << "DataUpgradeView" << 3 << " ==== on_pb_upgraded_clicked" << 500;
    QTest::newRow("backup, 0") << "DataBackupView" << 0 << "" << -1;
    QTest::newRow("restoration, 3") << "DataRecoverView" << 3 << "" << -1;
    QTest::newRow("upgrade, 2") << "DataUpgradeView" << 2 << "" << -1;
}

// Matching control value: the button is never seen, the click handler runs
// 2000 ms after construction and the job its load delay later.
void TestScreens::autoStart()
{
    QFETCH(QString, className);
    QFETCH(int, control);
    QFETCH(QString, clickLine);
    QFETCH(int, loadDelay);
    TestDevice device;
    Utils::setSDevControlType(control);
    LogCapture log;
    const std::unique_ptr<QWidget> screen = makeScreen(className);
    const bool starts = loadDelay >= 0;
    QCOMPARE(buttonOf(*screen)->isHidden(), starts);
    QCOMPARE(log.count("===  DataUpgradeView auto run "), int(starts && control == 3));

    if (!starts) {
        QTest::qWait(2000 + 500 + 100);
        QVERIFY(!log.contains(kLoadLine));
        QCOMPARE(line(*screen, "label_note")->text(), QString());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(kLoadLine), 2000 + loadDelay + 10 * kSlackMs);
    const qint64 loaded = log.elapsedAt(kLoadLine);
    const qint64 clicked = clickLine.isEmpty() ? loaded - loadDelay : log.elapsedAt(clickLine);
    QVERIFY2(clicked >= 2000 && clicked <= 2000 + kSlackMs, qPrintable(QString::number(clicked)));
    QVERIFY2(loaded - clicked >= loadDelay && loaded - clicked <= loadDelay + kSlackMs,
             qPrintable(QString::number(loaded - clicked)));
}

void TestScreens::click_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("busyText");  // empty: the alternate screen only hides its button
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("loadDelay");
    QTest::newRow("backup") << "DataBackupView" << "數據備份中，請稍後..." << QStringList() << 100;
    QTest::newRow("restoration") << "DataRecoverView" << "還原中，請稍後..."
                                 << QStringList{"===  on_pb_recover_clicked"} << 100;
    QTest::newRow("upgrade") << "DataUpgradeView" << "升級包檢測中，請稍後..."
                             << QStringList{" ==== on_pb_upgraded_clicked"} << 500;
    QTest::newRow("alternate upgrade") << "NewDataUpgradeView" << ""
                                       << QStringList{"===  on_pb_update_clicked"} << -1;
}

// The handler only prepares; the job starts from the load timer, once the
// busy text has had its chance to be painted.
void TestScreens::click()
{
    QFETCH(QString, className);
    QFETCH(QString, busyText);
    QFETCH(QStringList, lines);
    QFETCH(int, loadDelay);
    TestDevice device;
    const std::unique_ptr<QWidget> screen = makeScreen(className);
    LogCapture log;

    buttonOf(*screen)->click();
    QVERIFY(buttonOf(*screen)->isHidden());
    QCOMPARE(line(*screen, "label_note")->text(), busyText);
    QCOMPARE(line(*screen, "label_renote")->isHidden(), loadDelay >= 0);
    QCOMPARE(log.lines(), lines);
    if (loadDelay < 0)
        return;
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(kLoadLine), loadDelay + 10 * kSlackMs);
    const qint64 loaded = log.elapsedAt(kLoadLine);
    QVERIFY2(loaded >= loadDelay && loaded <= loadDelay + kSlackMs,
             qPrintable(QString::number(loaded)));
}

KORVELLO_TEST_MAIN(TestScreens)
#include "tst_screens.moc"
