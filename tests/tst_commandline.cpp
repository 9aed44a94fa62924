#include "testdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {

const int kChildTimeoutMs = 60000;

// Runs a child with both channels merged (debug lines go to standard error,
// the parser's texts and the simulator's lines to standard output). With
// `until` set the child is killed once a whole line holding that text has
// appeared: the tool itself never ends before a reboot.
QString runChild(QProcess &child, const QString &executable, const QStringList &arguments,
                 const QString &until)
{
    child.setProcessChannelMode(QProcess::MergedChannels);
    TestSupport::startExecutable(child, executable, arguments);
    QString output;
    QElapsedTimer clock;
    clock.start();
    while (child.state() != QProcess::NotRunning && clock.elapsed() < kChildTimeoutMs) {
        child.waitForReadyRead(200);
        output += QString::fromUtf8(child.readAll());
        if (!until.isEmpty() && output.contains(until) && output.endsWith('\n'))
            break;
    }
    child.kill();  // nothing when it has ended by itself
    child.waitForFinished(kChildTimeoutMs);
    return output + QString::fromUtf8(child.readAll());
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
};

void TestCommandLine::startUp_data()
{
    QTest::addColumn<bool>("sim");
    QTest::addColumn<QStringList>("arguments");  // %root: a simulated device
    QTest::addColumn<int>("exitCode");           // -1: still running once the last text is seen
    QTest::addColumn<QStringList>("inOrder");    // each exactly once, in this order
    QTest::addColumn<QStringList>("absent");

    const QString first = QStringLiteral("Error: The first argument is not a valid integer");
    const QString second = QStringLiteral("Error: The second argument is not a valid integer");
    const QStringList started = {QStringLiteral("=== argv:"), QStringLiteral("setSDev")};

    QTest::newRow("help") << false << QStringList{"--help"} << 0
        << QStringList{"Korvello with two optional integer arguments", "-h, --help",
                       "-v, --version", "-d, --device <integer>", "The device type (default: 0)",
                       "-c, --control <integer>", "The Control state (default: 0)"}
        << started;
    QTest::newRow("version") << false << QStringList{"--version"} << 0
                             << QStringList{"korvello"} << started;
    QTest::newRow("both invalid") << false << QStringList{"-d", "abc", "-c", "xyz"} << 1
                                  << QStringList{first} << started + QStringList{second};
    QTest::newRow("second invalid") << false << QStringList{"-d", "1", "-c", "xyz"} << 1
                                    << QStringList{second} << started + QStringList{first};
    QTest::newRow("device above int") << false << QStringList{"-d", "2147483648"} << 1
                                      << QStringList{first} << started;
    QTest::newRow("control not base 10") << false << QStringList{"--control=0x1"} << 1
                                         << QStringList{second} << started + QStringList{first};
    QTest::newRow("unknown option") << false << QStringList{"-x"} << 1
                                    << QStringList{"Unknown option 'x'."} << started;
    // Runs of the product that open no screen and so touch nothing of the device.
    QTest::newRow("no options") << false << QStringList() << -1
        << QStringList{"=== argv: 0 and 0", "===  setSDevType   0", "===  setSDevControlType   0",
                       "===  MainWindow  getSDevControlType  0"}
        << QStringList{"on_pb_"};
    QTest::newRow("out of range") << false << QStringList{"-d", "3", "-c", "7"} << -1
        << QStringList{"=== argv: 3 and 7", "===  MainWindow  getSDevControlType  0"}
        << QStringList{"setSDev", "on_pb_"};
    // Runs that open a screen go to a simulated device.
    QTest::newRow("long forms") << true
        << QStringList{"--root", "%root", "--device=1", "--control=2"} << -1
        << QStringList{"=== argv: 1 and 2", "===  setSDevType   1", "===  setSDevControlType   2",
                       "===  MainWindow  getSDevControlType  2", "===  on_pb_restoration_clicked",
                       "===  DataRecoverView  mPathBackData  \"%root/mnt/sdcard/mmcblk1p1\""}
        << QStringList{"Error"};
    QTest::newRow("simulator help") << true << QStringList{"--help"} << 0
        << QStringList{"DIR/mnt/usb/sda1", "DIR/mnt/sdcard/mmcblk1p1", "DIR/etc/version.cfg",
                       "Korvello with two optional integer arguments", "-d, --device <integer>"}
        << started;
    QTest::newRow("simulator without root") << true << QStringList{"-c", "1"} << 2
                                            << QStringList{"--root DIR is required"} << started;
    // Every job ends in the countdown; the simulated reboot ends the run.
    QTest::newRow("simulator reboot") << true << QStringList{"--root", "%root", "-c", "1"} << 0
        << QStringList{"=== argv: 0 and 1",
                       "===  DataBackupView  mPathBackData  \"%root/mnt/usb/sda1\"",
                       "===  handleRebootCount  rebootCount  5", "===  handleRebootCount  reboot\n",
                       "korvello-sim: the simulated device reboots now"}
        << QStringList();
}

void TestCommandLine::startUp()
{
    QFETCH(bool, sim);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);
    QTemporaryDir device;
    const QString root = QFileInfo(device.path()).canonicalFilePath();
    arguments.replaceInStrings(QStringLiteral("%root"), root);
    inOrder.replaceInStrings(QStringLiteral("%root"), root);

    QProcess child;
    const QString executable = QString::fromLocal8Bit(sim ? KORVELLO_SIM_BIN : KORVELLO_BIN);
    const QString until = exitCode < 0 ? inOrder.last() : QString();
    const QString output = runChild(child, executable, arguments, until);
    if (exitCode >= 0) {
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitCode);
    }
    int from = 0;
    for (const QString &text : inOrder) {
        const int at = output.indexOf(text);
        QVERIFY2(at >= from && output.count(text) == 1, qPrintable(text + " in:\n" + output));
        from = at;
    }
    for (const QString &text : absent)
        QVERIFY2(!output.contains(text), qPrintable(text + " in:\n" + output));
}

KORVELLO_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
