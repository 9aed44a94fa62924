#include "testdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {

const int kChildTimeoutMs = 60000;

// Runs a child in a private mount namespace whose /mnt is a scratch tmpfs
// with bait scripts where the device's media would be, and with a "reboot"
// on PATH that only says it ran. The last line tells how many entries /mnt
// held before and after: any attempt to reach the device's real paths or
// its reboot shows in the output.
const char kGuard[] =
    "mount -t tmpfs guard /mnt || exit 99\n"
    "for run in /mnt/usb/sda1/run /mnt/sdcard/mmcblk1p1/run; do\n"
    "  mkdir -p $run\n"
    "  for job in backup recover upgrade; do\n"
    "    printf '#!/bin/sh\\necho bait ran\\n' > $run/${job}_script.sh; chmod +x $run/${job}_script.sh\n"
    "  done\n"
    "done\n"
    "before=$(find /mnt | wc -l)\n"
    "\"$@\"\n"
    "code=$?\n"
    "echo \"guard: $before entries under /mnt before, $(find /mnt | wc -l) after\"\n"
    "exit $code\n";

// The guard's command line, or an empty list where no private mount
// namespace can be made (not root).
QStringList guard(const QString &stubs)
{
    const QStringList prefix = {"--mount", "--propagation", "private", "sh", "-c", kGuard, "sh"};
    if (QProcess::execute("unshare", prefix.mid(0, 3) + QStringList{"true"}) != 0)
        return QStringList();
    QStringList command = QStringList{"env", "PATH=" + stubs + ':' + qgetenv("PATH"), "unshare"}
                          + prefix;
    QStringList emulator = QString::fromLocal8Bit(KORVELLO_EMULATOR).split(QLatin1Char(' '));
    emulator.removeAll(QString());
    return command + emulator;
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
    // A value out of range is not kept, and not logged.
    QTest::newRow("out of range") << false << QStringList{"-d", "3", "-c", "4"} << -1
        << QStringList{"=== argv: 3 and 4", "===  MainWindow  getSDevControlType  0"}
        << QStringList{"setSDev", "on_pb_"};
    QTest::newRow("negative") << false << QStringList{"-d", "-1", "-c", "-1"} << -1
        << QStringList{"=== argv: -1 and -1", "===  MainWindow  getSDevControlType  0"}
        << QStringList{"setSDev", "on_pb_"};
    // Runs that open a screen go to a simulated device.
    QTest::newRow("long forms, the highest values") << true
        << QStringList{"--root", "%root", "--device=2", "--control=3"} << -1
        << QStringList{"=== argv: 2 and 3", "===  setSDevType   2", "===  setSDevControlType   3",
                       "===  MainWindow  getSDevControlType  3", "===  on_pb_upgrade_clicked",
                       "===  DataUpgradeView  mPathBackData  \"%root/mnt/usb/sda1\""}
        << QStringList{"Error"};
    QTest::newRow("simulator help") << true << QStringList{"--help"} << 0
        << QStringList{"DIR/mnt/usb/sda1", "DIR/mnt/sdcard/mmcblk1p1", "DIR/etc/version.cfg",
                       "Korvello with two optional integer arguments", "-d, --device <integer>"}
        << started;
    QTest::newRow("simulator without root") << true << QStringList{"-c", "1"} << 2
                                            << QStringList{"--root DIR is required"} << started;
    QTest::newRow("simulator version") << true << QStringList{"-c", "1", "--version"} << 0
                                       << QStringList{"korvello-sim Ver: "} << started;
    // Help wherever it stands is help alone: the tool never starts.
    QTest::newRow("simulator help after --") << true
        << QStringList{"--root", "%root", "-platform", "offscreen", "-c", "3", "--", "--help"} << 0
        << QStringList{"DIR/mnt/usb/sda1", "-c, --control <integer>"} << started;
    QTest::newRow("simulator help as an option's value") << true
        << QStringList{"--root", "%root", "-platform", "--help", "-c", "1"} << 0
        << QStringList{"an upgrade package's install.sh hook"} << started;
    QTest::newRow("simulator root /") << true << QStringList{"--root", "/", "-c", "1"} << 2
                                      << QStringList{"the root must not be the real /"} << started;
    QTest::newRow("simulator root that resolves to /") << true
        << QStringList{"--root", "%root/../../../../../../../..", "-c", "1"} << 2
        << QStringList{"the root must not be the real /"} << started;
    QTest::newRow("simulator root given twice, the last /") << true
        << QStringList{"--root", "%root", "--root=/", "-c", "1"} << 2
        << QStringList{"the root must not be the real /"} << started;
    // Every job ends in the countdown; the simulated reboot ends the run.
    // Without -platform the simulator runs as on a machine without a display.
    QTest::newRow("simulator reboot") << true << QStringList{"--root", "%root", "-c", "1"} << 0
        << QStringList{"korvello-sim: no display (DISPLAY and WAYLAND_DISPLAY unset): the "
                       "offscreen platform", "=== argv: 0 and 1",
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
    TestDevice stubs;
    stubs.writeScript(stubs.root() + "/reboot", "echo the real reboot was reached");
    const QStringList guarded = guard(stubs.root());
    if (guarded.isEmpty() && sim)
        QSKIP("no private mount namespace here (needs root): the simulator is not run unguarded");

    QProcess child;
    if (sim && !arguments.contains("-platform")) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(name);
        child.setProcessEnvironment(environment);
    }
    const QString executable = QString::fromLocal8Bit(sim ? KORVELLO_SIM_BIN : KORVELLO_BIN);
    const QString until = exitCode < 0 ? inOrder.last() : QString();
    const QString output =
        guarded.isEmpty()
            ? TestSupport::runChild(child, executable, arguments, until, kChildTimeoutMs)
            : TestSupport::runChild(child, guarded.first(),
                                    guarded.mid(1) + QStringList(executable) + arguments, until,
                                    kChildTimeoutMs);
    if (exitCode >= 0) {
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitCode);
        static const QRegularExpression untouched("guard: (\\d+) entries under /mnt before, \\1 ");
        QVERIFY2(guarded.isEmpty() || output.contains(untouched), qPrintable(output));
    }
    QVERIFY2(!output.contains("bait ran") && !output.contains("real reboot"), qPrintable(output));
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
