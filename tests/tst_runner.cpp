#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "testdevice.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

namespace {

const char *const kScripts[] = {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"};
const char *const kRunners[] = {"runBackupSH", "runCmdSH", "runCmdSH"};

// Places the screen's script: "-" none, "!x" not executable, "!start" an
// interpreter that does not exist; anything else is the body of a script
// that records its arguments.
void placeScript(const TestDevice &device, const QString &name, const QString &script)
{
    const QString path = device.runDir() + QLatin1Char('/') + name;
    if (script == "!x")
        device.writeFile(path, "#!/bin/sh\nexit 0\n");
    else if (script == "!start")
        device.writeFile(device.writeScript(path, QString()), "#!/nonexistent/sh\n");
    else if (script != "-")
        device.writeRecordingScript(name, 0, script);
}

// A fresh screen: the members that feed the arguments are only filled by the
// job procedures, so it passes empty or zero arguments.
template <typename Screen>
int runFresh(int (Screen::*runner)(), QString *note)
{
    Screen screen;
    auto *label = screen.template findChild<QLabel *>(QStringLiteral("label_note"));
    label->setText(QStringLiteral("before"));
    const int result = (screen.*runner)();
    *note = label->text();
    return result;
}

// The log lines of a script that ran; a negative code is not compared.
QStringList ran(const QStringList &pieces, const QString &errors, const char *status, int code)
{
    QStringList lines = {"Script execution completed"};
    for (const QString &piece : pieces)
        lines << QStringLiteral("Standard Output:  \"%1\"").arg(piece);
    return lines << "Error Output: \"" + errors
                 << QStringLiteral("Exit Status: QProcess::") + status
                 << "Exit Code: " + (code < 0 ? QString() : QString::number(code));
}

} // namespace

class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void TestRunner::run_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("result");         // -1: not compared
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("lines");  // after the runner's first line: each a prefix,
                                             // or "*" and a part
    const char *const names[] = {"backup", "restoration", "upgrade"};
    for (int screen = 0; screen < 3; ++screen) {
        const bool upgrade = screen == 2;
        const QByteArray name = names[screen];
        QTest::newRow(name + ", missing") << screen << "-" << (upgrade ? -100 : 1)
            << "備份腳本不存在" << QStringList{"Error: Script does not exist - \"%1\""};
        QTest::newRow(name + ", not executable") << screen << "!x" << (upgrade ? -101 : 1)
            << "備份腳本不可運行" << QStringList{"Error: Script is not executable - \"%1\""};
        QTest::newRow(name + ", not started") << screen << "!start" << (upgrade ? -102 : 1)
            << "備份腳本運行失敗" << QStringList{"Error: Failed to start script -"};
        QTest::newRow(name + ", exit 3") << screen << "exit 3" << 3 << "before"
                                         << ran({""}, "", "NormalExit", 3);
    }
    QTest::newRow("two lines") << 0 << "printf 'a\\nb\\n'" << 0 << "before"
                               << ran({"a", "b", ""}, "", "NormalExit", 0);
    QTest::newRow("cut at NUL") << 0 << "printf 'x\\000y\\nz\\n'" << 0 << "before"
                                << ran({"x"}, "", "NormalExit", 0);
    QTest::newRow("UTF-8, error output") << 1 << "printf '完成'; echo oops >&2" << 0 << "before"
                                         << ran({"完成"}, "oops", "NormalExit", 0);
    QTest::newRow("environment") << 2 << "printf '%s' \"$snum\"" << 0 << "before"
                                 << ran({"SN-42"}, "", "NormalExit", 0);
    // Nothing is written to a script: one that reads its input still ends.
    QTest::newRow("reads its input") << 0 << "cat; echo done" << 0 << "before"
                                     << ran({"done", ""}, "", "NormalExit", 0);
    QTest::newRow("killed") << 0 << "kill -KILL $$" << -1 << "before"
                            << ran({""}, "", "CrashExit", -1);
    // Of a flood only the head and the tail are kept, with a marker between.
    QTest::newRow("a flood, logged cut") << 1
        << "head -c 20000000 /dev/zero | tr '\\000' x; printf '\\nlast\\n'"
           "; head -c 150000000 /dev/zero >&2" << 0 << "before"
        << QStringList{"Script execution completed", "Standard Output:  \"xxxx",
                       "Standard Output:  [cut: 20000006 bytes in all]", "Standard Output:  \"xxxx",
                       "Standard Output:  \"last\"", "Standard Output:  \"\"",
                       "*\" [cut: 150000000 bytes in all] \"\\x00", "Exit Status:", "Exit Code: 0"};
}

// An empty first argument (a fresh screen's snum) keeps the others in their
// positions; the script inherits the tool's environment.
void TestRunner::run()
{
    QFETCH(int, screen);
    QFETCH(QString, script);
    QFETCH(int, result);
    QFETCH(QString, note);
    QFETCH(QStringList, lines);
    TestDevice device;
    const QString name = QLatin1String(kScripts[screen]);
    const QString path = device.runDir() + QLatin1Char('/') + name;
    placeScript(device, name, script);
    qputenv("snum", "SN-42");
    TestSupport::LogCapture log;
    QString shown;
    const int returned = screen == 0 ? runFresh(&DataBackupView::runBackupSH, &shown)
                         : screen == 1 ? runFresh(&DataRecoverView::runCmdSH, &shown)
                                       : runFresh(&DataUpgradeView::runCmdSH, &shown);
    qunsetenv("snum");

    if (result != -1)
        QCOMPARE(returned, result);
    QCOMPARE(shown, note);
    QStringList logged = log.lines().mid(1);  // after the screen's storage-root line
    QCOMPARE(logged.takeFirst(), QStringLiteral("===  %1   \"%2\"").arg(kRunners[screen], path));
    QCOMPARE(logged.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].replace("%1", path);
        const bool inside = line.startsWith('*') && logged[i].contains(line.mid(1));
        QVERIFY2(inside || logged[i].startsWith(line), qPrintable(logged[i].left(200)));
    }
    const bool started = !script.startsWith('!') && script != "-";
    QCOMPARE(device.recordedArguments(name),
             started ? QStringList({"", "", "0", ""}) : QStringList());
}

KORVELLO_TEST_MAIN(TestRunner)
#include "tst_runner.moc"
