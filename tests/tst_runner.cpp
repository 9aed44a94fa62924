#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "scriptrunner.h"
#include "testdevice.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

using TestSupport::LogCapture;

namespace {

enum Situation { Missing, NotExecutable, NotStarted, Exit3, Exit0 };

const char *const kScripts[] = {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"};
const char *const kRunners[] = {"runBackupSH", "runCmdSH", "runCmdSH"};

void placeScript(const TestDevice &device, const QString &name, Situation situation)
{
    const QString path = device.runDir() + QLatin1Char('/') + name;
    if (situation == NotExecutable)
        device.writeFile(path, "#!/bin/sh\nexit 0\n");
    if (situation == NotStarted) {
        // Executable, but its interpreter does not exist.
        device.writeScript(path, QString());
        device.writeFile(path, "#!/nonexistent/sh\n");
    }
    if (situation == Exit3 || situation == Exit0)
        device.writeRecordingScript(name, situation == Exit3 ? 3 : 0);
}

template <typename Screen>
int runOn(Screen &view, int (Screen::*runner)(), QString *note)
{
    auto *label = view.template findChild<QLabel *>(QStringLiteral("label_note"));
    label->setText(QStringLiteral("before"));
    const int result = (view.*runner)();
    *note = label->text();
    return result;
}

// The members that feed a screen's arguments are only filled by the job
// procedures: a fresh screen passes four empty or zero arguments.
int runFreshScreen(int screen, QString *note)
{
    if (screen == 0) {
        DataBackupView view;
        return runOn(view, &DataBackupView::runBackupSH, note);
    }
    if (screen == 1) {
        DataRecoverView view;
        return runOn(view, &DataRecoverView::runCmdSH, note);
    }
    DataUpgradeView view;
    return runOn(view, &DataUpgradeView::runCmdSH, note);
}

} // namespace

class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void screenRunners_data();
    void screenRunners();
    void output_data();
    void output();
    void argumentsKeepPositions();
};

void TestRunner::screenRunners_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("situation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("errorLine");  // %1: the script path
    const char *const names[] = {"backup", "restoration", "upgrade"};
    for (int screen = 0; screen < 3; ++screen) {
        const bool upgrade = screen == 2;
        const QByteArray name = names[screen];
        QTest::newRow(name + ", missing") << screen << int(Missing) << (upgrade ? -100 : 1)
            << "備份腳本不存在" << "Error: Script does not exist - \"%1\"";
        QTest::newRow(name + ", not executable") << screen << int(NotExecutable)
            << (upgrade ? -101 : 1) << "備份腳本不可運行"
            << "Error: Script is not executable - \"%1\"";
        QTest::newRow(name + ", not started") << screen << int(NotStarted) << (upgrade ? -102 : 1)
            << "備份腳本運行失敗" << "Error: Failed to start script -";
        QTest::newRow(name + ", exit 3") << screen << int(Exit3) << 3 << "before" << "";
        QTest::newRow(name + ", exit 0") << screen << int(Exit0) << 0 << "before" << "";
    }
}

void TestRunner::screenRunners()
{
    QFETCH(int, screen);
    QFETCH(int, situation);
    QFETCH(int, result);
    QFETCH(QString, note);
    QFETCH(QString, errorLine);
    TestDevice device;
    const QString script = QLatin1String(kScripts[screen]);
    const QString path = device.runDir() + QLatin1Char('/') + script;
    placeScript(device, script, Situation(situation));
    LogCapture log;
    QString shown;

    QCOMPARE(runFreshScreen(screen, &shown), result);
    QCOMPARE(shown, note);
    const QStringList lines = log.lines().filter(QRegularExpression("^(=== |Error: )"));
    const QString first = QStringLiteral("===  %1   \"%2\"").arg(kRunners[screen], path);
    QCOMPARE(lines.value(1), first);  // after the screen's own mPathBackData line
    const QString error = QString(errorLine).replace("%1", path);
    QVERIFY2(error.isEmpty() || lines.value(2).startsWith(error), qPrintable(lines.value(2)));
    QCOMPARE(lines.size(), errorLine.isEmpty() ? 2 : 3);
    const bool ran = situation == Exit3 || situation == Exit0;
    QCOMPARE(device.recordedArguments(script), ran ? QStringList({"", "", "0", ""}) : QStringList());
}

void TestRunner::output_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("errorOutput");
    QTest::addColumn<QString>("status");
    QTest::newRow("two lines") << "printf 'a\\nb\\n'" << QStringList{"a", "b", ""} << ""
                               << "NormalExit";
    QTest::newRow("no output") << "true" << QStringList{""} << "" << "NormalExit";
    QTest::newRow("cut at NUL") << "printf 'x\\000y\\nz\\n'" << QStringList{"x"} << ""
                                << "NormalExit";
    QTest::newRow("UTF-8") << "printf '完成'" << QStringList{"完成"} << "" << "NormalExit";
    QTest::newRow("exit code and error output") << "echo oops >&2; exit 7" << QStringList{""}
                                                << "oops" << "NormalExit";
    QTest::newRow("environment") << "printf '%s' \"$snum\"" << QStringList{"SN-42"} << ""
                                 << "NormalExit";
    // Nothing is written to a script: one that reads its input still ends.
    QTest::newRow("reads its input") << "cat; echo done" << QStringList{"done", ""} << ""
                                     << "NormalExit";
    QTest::newRow("killed") << "kill -KILL $$" << QStringList{""} << "" << "CrashExit";
}

void TestRunner::output()
{
    QFETCH(QString, body);
    QFETCH(QStringList, pieces);
    QFETCH(QString, errorOutput);
    QFETCH(QString, status);
    TestDevice device;
    device.writeScript(device.runDir() + QStringLiteral("/recover_script.sh"), body);
    qputenv("snum", "SN-42");
    LogCapture log;
    QStringList notes;
    const int result = ScriptRunner::run(Screens::kRecover, device.medium(), {"", "", "0", ""},
                                         [&notes](const QString &note) { notes << note; });
    qunsetenv("snum");

    QVERIFY(notes.isEmpty());
    QStringList expected = {"Script execution completed"};
    for (const QString &piece : pieces)
        expected << QStringLiteral("Standard Output:  \"%1\"").arg(piece);
    const QStringList lines = log.lines().mid(1);
    QCOMPARE(lines.mid(0, expected.size()), expected);
    QCOMPARE(lines.size(), expected.size() + 3);
    QVERIFY(lines.at(expected.size()).startsWith("Error Output: \""));
    QVERIFY(lines.at(expected.size()).contains(errorOutput));
    QVERIFY(lines.at(expected.size() + 1).startsWith("Exit Status:"));
    QVERIFY(lines.at(expected.size() + 1).contains(status));
    QCOMPARE(lines.at(expected.size() + 2), QStringLiteral("Exit Code: %1").arg(result));
    if (errorOutput == "oops")
        QCOMPARE(result, 7);
}

void TestRunner::argumentsKeepPositions()
{
    TestDevice device;
    device.writeRecordingScript(QStringLiteral("backup_script.sh"), 0);
    const QStringList arguments = {"", "20250516114930", "3", device.medium() + "/run/data"};
    QCOMPARE(ScriptRunner::run(Screens::kBackup, device.medium(), arguments,
                               [](const QString &) {}),
             0);
    QCOMPARE(device.recordedArguments(QStringLiteral("backup_script.sh")), arguments);
}

KORVELLO_TEST_MAIN(TestRunner)
#include "tst_runner.moc"
