#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "scriptrunner.h"
#include "testdevice.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

#include <memory>

using TestSupport::LogCapture;

namespace {

enum Situation { Missing, NotExecutable, NotStarted, Exit3, Exit0 };

const char *const kScreens[] = {"DataBackupView", "DataRecoverView", "DataUpgradeView"};
const char *const kScripts[] = {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"};
const char *const kRunners[] = {"runBackupSH", "runCmdSH", "runCmdSH"};

// Puts the script for a situation at medium/run/<name>.
void placeScript(const TestDevice &device, const QString &name, Situation situation)
{
    const QString path = device.runDir() + QLatin1Char('/') + name;
    switch (situation) {
    case Missing:
        break;
    case NotExecutable:
        device.writeFile(path, "#!/bin/sh\nexit 0\n");
        break;
    case NotStarted:
        // Executable, but its interpreter does not exist: the start fails.
        device.writeScript(path, QString());
        device.writeFile(path, "#!/nonexistent/interpreter\nexit 0\n");
        break;
    case Exit3:
        device.writeRecordingScript(name, 3);
        break;
    case Exit0:
        device.writeRecordingScript(name, 0);
        break;
    }
}

int runOn(QWidget *screen)
{
    if (auto *backup = qobject_cast<DataBackupView *>(screen))
        return backup->runBackupSH();
    if (auto *recover = qobject_cast<DataRecoverView *>(screen))
        return recover->runCmdSH();
    return qobject_cast<DataUpgradeView *>(screen)->runCmdSH();
}

std::unique_ptr<QWidget> makeScreen(int index)
{
    if (index == 0)
        return std::make_unique<DataBackupView>();
    if (index == 1)
        return std::make_unique<DataRecoverView>();
    return std::make_unique<DataUpgradeView>();
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
    QTest::addColumn<QString>("errorLine");
    const QString unchanged = QStringLiteral("before");
    for (int screen = 0; screen < 3; ++screen) {
        const bool upgrade = screen == 2;
        const QByteArray name = kScreens[screen];
        QTest::newRow(name + ", missing") << screen << int(Missing) << (upgrade ? -100 : 1)
            << "備份腳本不存在" << "Error: Script does not exist - \"%1\"";
        QTest::newRow(name + ", not executable") << screen << int(NotExecutable)
            << (upgrade ? -101 : 1) << "備份腳本不可運行"
            << "Error: Script is not executable - \"%1\"";
        QTest::newRow(name + ", not started") << screen << int(NotStarted) << (upgrade ? -102 : 1)
            << "備份腳本運行失敗" << "Error: Failed to start script -";
        QTest::newRow(name + ", exit 3") << screen << int(Exit3) << 3 << unchanged << "";
        QTest::newRow(name + ", exit 0") << screen << int(Exit0) << 0 << unchanged << "";
    }
}

// The screens' runners take their arguments from members that only the job
// procedures fill: fresh screens pass four empty-or-zero arguments, in place.
void TestRunner::screenRunners()
{
    QFETCH(int, screen);
    QFETCH(int, situation);
    QFETCH(int, result);
    QFETCH(QString, note);
    QFETCH(QString, errorLine);
    TestDevice device;
    const QString script = QLatin1String(kScripts[screen]);
    placeScript(device, script, Situation(situation));
    const std::unique_ptr<QWidget> view = makeScreen(screen);
    auto *noteLabel = view->findChild<QLabel *>(QStringLiteral("label_note"));
    noteLabel->setText(QStringLiteral("before"));
    LogCapture log;

    QCOMPARE(runOn(view.get()), result);
    QCOMPARE(noteLabel->text(), note);
    const QString path = device.runDir() + QLatin1Char('/') + script;
    const QStringList lines = log.lines();
    QCOMPARE(lines.value(0), QStringLiteral("===  %1   \"%2\"").arg(kRunners[screen], path));
    if (!errorLine.isEmpty()) {
        QVERIFY2(lines.value(1).startsWith(errorLine.arg(path)), qPrintable(lines.value(1)));
        QCOMPARE(lines.size(), 2);
    }
    const bool ran = situation == Exit3 || situation == Exit0;
    QCOMPARE(device.scriptRan(script), ran);
    if (ran)
        QCOMPARE(device.recordedArguments(script), QStringList({"", "", "0", ""}));
}

void TestRunner::output_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("errorOutput");
    QTest::addColumn<QString>("status");
    QTest::newRow("two lines") << "printf 'a\\nb\\n'" << 0 << QStringList{"a", "b", ""} << ""
                               << "NormalExit";
    QTest::newRow("no output") << "true" << 0 << QStringList{""} << "" << "NormalExit";
    QTest::newRow("cut at NUL") << "printf 'x\\000y\\nz\\n'" << 0 << QStringList{"x"} << ""
                                << "NormalExit";
    QTest::newRow("UTF-8") << "printf '完成'" << 0 << QStringList{"完成"} << "" << "NormalExit";
    QTest::newRow("error output") << "echo oops >&2; exit 7" << 7 << QStringList{""} << "oops"
                                  << "NormalExit";
    QTest::newRow("serial in the environment") << "printf '%s' \"$snum\"" << 0
                                               << QStringList{"SN-42"} << "" << "NormalExit";
    // Nothing is written to a script; one that reads its input still ends.
    QTest::newRow("reads its input") << "cat; echo done" << 0 << QStringList{"done", ""} << ""
                                     << "NormalExit";
    QTest::newRow("killed") << "kill -KILL $$" << -1 << QStringList{""} << "" << "CrashExit";
}

void TestRunner::output()
{
    QFETCH(QString, body);
    QFETCH(int, result);
    QFETCH(QStringList, pieces);
    QFETCH(QString, errorOutput);
    QFETCH(QString, status);
    TestDevice device;
    device.writeScript(device.runDir() + QStringLiteral("/recover_script.sh"), body);
    qputenv("snum", "SN-42");
    LogCapture log;
    QStringList notes;
    const int got = ScriptRunner::run(Screens::kRecover, device.medium(), {"", "", "0", ""},
                                      [&notes](const QString &note) { notes << note; });
    qunsetenv("snum");

    if (result >= 0)
        QCOMPARE(got, result);
    QVERIFY(notes.isEmpty());
    QStringList lines = log.lines();
    const int completed = lines.indexOf(QStringLiteral("Script execution completed"));
    QCOMPARE(completed, 1);
    lines = lines.mid(completed + 1);
    QStringList expected;
    for (const QString &piece : pieces)
        expected << QStringLiteral("Standard Output:  \"%1\"").arg(piece);
    QCOMPARE(lines.mid(0, pieces.size()), expected);
    QCOMPARE(lines.size(), pieces.size() + 3);
    QVERIFY2(lines.at(pieces.size()).startsWith(QLatin1String("Error Output: \"")),
             qPrintable(lines.at(pieces.size())));
    QVERIFY(lines.at(pieces.size()).contains(errorOutput));
    QVERIFY2(lines.at(pieces.size() + 1).startsWith(QLatin1String("Exit Status:"))
                 && lines.at(pieces.size() + 1).contains(status),
             qPrintable(lines.at(pieces.size() + 1)));
    QCOMPARE(lines.at(pieces.size() + 2), QStringLiteral("Exit Code: %1").arg(got));
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
