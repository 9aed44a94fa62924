// What only the screens do: notes, start, delays, countdown, reboot, what the
// script was given and the tool logged; through the start button, the automatic
// start or the real tool (korvello-sim, a child with a time limit: a medium that
// could hang or flood the tool never runs in this process). korvello-medium's
// check reads the medium first and must predict the end. What the screen shows
// on the way (the busy note, the countdown, the delays) is the same for every
// row of a job, so each job keeps one automatic and one button row in this
// process; the others run as the real tool, side by side, and wait together.

#include "commandline.h"
#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

const int kJobLimitMs = 120000;
const long kPeakLimitKiB = 64 * 1024;
const char *const kScripts[] = {"", "backup_script.sh", "recover_script.sh", "upgrade_script.sh"};
const char *const kJobNames[] = {"", "backup", "restore", "upgrade"};
const char *const kSuccess[] = {"", " 備份成功 ", "數據還原成功", "升級成功"};
const char *const kBusy[] = {"", "數據備份中，請稍後...", "還原中，請稍後...",
                             "升級包檢測中，請稍後..."};
const char *const kClickLine[] = {"", "", "===  on_pb_recover_clicked",
                                  " ==== on_pb_upgraded_clicked"};
const QString kFirstTick = QStringLiteral("5秒後自動重啟");
const QString kTickLine = QStringLiteral("===  handleRebootCount  rebootCount  %1");
const QString kRemovalLine = QStringLiteral("===  handleRebootCount  remove upgrade device first");

// Each step's note stays on screen at least this long: between the debug
// lines written when it is set and when the next step begins.
struct Gap { const char *from, *to; int ms; };
const Gap kGaps[] = {
    {"Exit Code:", "===  slot_toCheckTimeOut", 800},
    {"===  checkBackIndex  backfileName", "===  slot_toRunSHOut", 1000},
    {"===  checkUpgradeFiles  upgradefileName", "===  slot_startSHOut", 1200},
    {"===  slot_startSHOut", "===  slot_toRunSHOut", 500},
};
// From the start button (or the screen's creation) to the job.
const int kLoadDelayMs[] = {0, 100, 100, 500};
const int kAutoStartMs = 2000;

struct Transcript
{
    QStringList notes;   // each note as it replaced the one before
    QStringList renotes; // the second line's, while it is shown
    QStringList log;     // debug lines
    QList<qint64> at;    // when each was written, in milliseconds from the start
    QString fault;       // what the start button did wrong
};

std::unique_ptr<QWidget> makeScreen(int job)
{
    return std::unique_ptr<QWidget>(job == 1 ? static_cast<QWidget *>(new DataBackupView)
                                    : job == 2 ? static_cast<QWidget *>(new DataRecoverView)
                                               : new DataUpgradeView);
}

void record(QStringList &texts, const QString &text)
{
    if (texts.value(texts.size() - 1, "-") != text)
        texts << text;
}

// Follows both lines until the countdown shows its first second or, to the
// end, until the reboot. A medium the screen asks to be pulled is pulled
// once it has asked three times.
void follow(const QWidget &screen, const TestSupport::LogCapture &log, bool toTheEnd,
            const QString &medium, Transcript &transcript)
{
    const auto *note = screen.findChild<QLabel *>(QStringLiteral("label_note"));
    const auto *renote = screen.findChild<QLabel *>(QStringLiteral("label_renote"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kJobLimitMs) {
        record(transcript.notes, note->text());
        if (!renote->isHidden())
            record(transcript.renotes, renote->text());
        if (toTheEnd ? TestSupport::rebootCount() > 0 : renote->text() == kFirstTick)
            return;
        if (log.count(kRemovalLine) == 3)
            QDir(medium + QStringLiteral("/run/upgrade")).removeRecursively();
        QTest::qWait(5);
    }
}

Transcript runInProcess(int job, bool automatic, const QString &medium)
{
    TestSupport::resetRebootCount();
    // Another screen's control value must not start this one.
    Utils::setSDevControlType(automatic ? job : job % 3 + 1);
    Transcript transcript;
    TestSupport::LogCapture log;
    const std::unique_ptr<QWidget> screen = makeScreen(job);
    auto *button = screen->findChild<QPushButton *>();
    if (automatic != button->isHidden())
        transcript.fault = QStringLiteral("the start button is shown wrongly");
    if (!automatic)
        button->click();
    if (!button->isHidden())
        transcript.fault = QStringLiteral("the start button stays");
    follow(*screen, log, automatic, medium, transcript);
    Utils::setSDevControlType(0);
    transcript.log = log.lines();
    transcript.at = log.times();
    return transcript;
}

qint64 writtenAt(const Transcript &transcript, const QString &text)
{
    const QStringList hits = transcript.log.filter(text);
    return hits.isEmpty() ? -1 : transcript.at.at(transcript.log.indexOf(hits.first()));
}

// The real tool as the device starts it, up to its countdown, as it printed it.
Transcript collectSimulator(QProcess &sim, bool *timedOut)
{
    const QString until = "second line: " + kFirstTick;
    QString output = TestSupport::runChild(sim, QString(), {}, until, kJobLimitMs, timedOut);
    output.truncate(output.indexOf(until) + until.size());
    Transcript transcript;
    transcript.log = output.split(QLatin1Char('\n'));
    static const QRegularExpression noteLine(QStringLiteral("^korvello-sim: note: (.*)$"),
                                             QRegularExpression::MultilineOption);
    for (auto match = noteLine.globalMatch(output); match.hasNext();)
        transcript.notes << match.next().captured(1);
    return transcript;
}

// What check's JSON report, of the form its schema documents, says the job ends
// with: the note, or "script: " + the success note when the script's exit code
// decides; and the file it says the restoration or upgrade script gets.
QString predicted(const TestDevice &device, int job, const QString &snum, QString *handed)
{
    static const QJsonObject schema = [] {
        QFile file(QStringLiteral(KORVELLO_SOURCE_DIR "/tools/medium/check-report.schema.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }();
    QStringList arguments = {"check", device.medium(), "--snum", snum, "--json"};
    if (QFile::exists(device.versionFile()))
        arguments << QStringLiteral("--version-file") << device.versionFile();
    QString report;
    QTextStream out(&report);
    MediumCommand::run(arguments, out, out);
    out.flush();
    const QJsonObject document
        = QJsonDocument::fromJson(report.mid(report.indexOf('{')).toUtf8()).object();
    const QString violation = TestSupport::schemaViolation(document, schema);
    if (schema.isEmpty() || !violation.isEmpty())
        return QStringLiteral("schema: ") + violation;
    const QJsonValue plan = document["jobs"][kJobNames[job]];
    *handed = job == 2 ? plan["restores"]["file"].toString() : plan["takes"].toString();
    const QJsonValue end = plan["outcome"];
    return (end["decided"].toBool() ? QString() : QStringLiteral("script: "))
           + end["note"].toString();
}

QStringList listing(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next();
    return names;
}

// A row's medium, laid and read by check before its job runs.
struct Row
{
    TestDevice device;
    QStringList elsewhere; // what lay off the medium
    QString handed;
    QString prediction;
    QString before; // the time stamp when the job started
    QProcess sim;   // the real tool, for a sim row
};

std::unique_ptr<Row> prepare(int job, const Medium &medium, const QVariant &serial)
{
    auto row = std::make_unique<Row>();
    row->device.lay(medium, serial.toString());
    row->elsewhere = listing(row->device.elsewhere());
    row->prediction = predicted(row->device, job, serial.toString(), &row->handed);
    TestSupport::setSerial(serial);
    // As under the simulator: the reference scripts keep to the device's root.
    qputenv("KORVELLO_SIM_ROOT", row->device.root().toLocal8Bit());
    row->before = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
    return row;
}

// The sim rows' children start as the table is read and run beside the
// in-process rows, which mostly wait out the screens' delays. A run that
// only lists the rows exits from within QTest with the children still
// there: the table is made after the first device, so it goes first.
std::map<QString, std::unique_ptr<Row>> &simRows()
{
    static std::map<QString, std::unique_ptr<Row>> rows;
    return rows;
}

void startSimulator(const char *name, int job, const Medium &medium, const QVariant &serial)
{
    std::unique_ptr<Row> row = prepare(job, medium, serial);
    row->sim.setProcessChannelMode(QProcess::MergedChannels);
    TestSupport::startExecutable(row->sim, QStringLiteral(KORVELLO_SIM_BIN),
                                 {"--root", row->device.root(), "-platform", "offscreen", "-c",
                                  QString::number(job)});
    simRows()[QLatin1String(name)] = std::move(row);
}

// Each step took at least its time; the countdown ticked once a second.
void checkTiming(const Transcript &transcript, int job, bool automatic, bool counted)
{
    const qint64 loaded = writtenAt(transcript, "===  slot_toLoadTimeOut");
    QVERIFY2(loaded >= kLoadDelayMs[job] + (automatic ? kAutoStartMs : 0),
             qPrintable(QString::number(loaded)));
    for (const Gap &gap : kGaps) {
        const qint64 from = writtenAt(transcript, gap.from);
        const qint64 to = writtenAt(transcript, gap.to);
        QVERIFY2(from < 0 || to < 0 || to - from >= gap.ms,
                 qPrintable(QStringLiteral("%1 after %2 ms").arg(gap.to).arg(to - from)));
    }
    if (!counted)
        return;
    for (int count = 5; count >= 1; --count)
        QCOMPARE(transcript.log.count(kTickLine.arg(count)), 1);
    const qint64 ticked = writtenAt(transcript, kTickLine.arg(0))
                          - writtenAt(transcript, kTickLine.arg(5));
    QVERIFY2(ticked >= 5000 && ticked <= 5000 + TestSupport::kSlackMs,
             qPrintable(QString::number(ticked)));
}

} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void jobs_data();
    void jobs();
    void cleanupTestCase();
};

void TestJobs::cleanupTestCase()
{
    simRows().clear();
}

void TestJobs::jobs_data()
{
    QTest::addColumn<int>("job");             // the control value: 1 backup, 2 restore, 3 upgrade
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QString>("note");        // the note the job ends on
    QTest::addColumn<QStringList>("given");   // to the script; empty: it never ran
    QTest::addColumn<QString>("start");       // button, auto or sim
    QTest::addColumn<QVariant>("serial");     // null: snum unset
    QTest::addColumn<QStringList>("logged");  // each in a line of the log; "!": in none
    QTest::addColumn<QStringList>("last");    // auto: the second line after the count
    auto row = [](const char *name, int job, const Medium &medium, const QString &note,
                  const QStringList &given, const QStringList &logged = {},
                  const QString &start = "button", const QVariant &serial = QStringLiteral("A7"),
                  const QStringList &last = {}) {
        if (start == "sim")
            startSimulator(name, job, medium, serial);
        QTest::newRow(name) << job << medium << note << given << start << serial << logged
                            << last;
    };
    const QStringList pullUsb = {"等待設備重啟，請拔出U盤"};
    const QStringList missingLog = {"Error: Script does not exist - \"%run/"};
    const QStringList unstartedLog = {"Error: Failed to start script -"};
    auto backup = [](const char *index, const char *serial = "A7") {
        return QStringList{serial, "%stamp", index, "%data"};
    };
    auto backupScript = [](const Script &script) { return Medium().script(Job::Backup, script); };
    const Script archives = Script::exits(0).writes(Does::Archive);
    const Medium goodScript = backupScript(archives.writes(Does::SideFile));
    const Medium exit3 = backupScript(Script::exits(3));

    row("backup: first on an empty medium", 1, goodScript, kSuccess[1], backup("1"),
        {"===  runBackupSH   \"%run/backup_script.sh\""}, "auto", "A7", pullUsb);
    // With a history, so that check's lastRun meets the schema too.
    row("backup: highest index + 1", 1, Medium(exit3).backup("1", 1).backup("2", 5).backup("3", 3)
        .file("run/log/A7.log", "2026-12-06T05:00:00Z\tbackup\t3\tmissing\t0\t1\tA7\n"), kBusy[1],
        backup("6"));
    row("backup: serial unset", 1, Medium(exit3).backup("2024", 3), kBusy[1], backup("4", ""), {},
        "sim", QVariant());
    row("backup: run/data leads off the medium", 1,
        Medium(goodScript).link("run/data", Medium::Elsewhere), "創建備份檔夾失敗", {}, {}, "sim");
    row("backup: script not executable", 1, backupScript(ScriptFile::NotExecutable),
        "備份腳本不可運行", {}, {"Error: Script is not executable - \"%run/"}, "sim");
    // A missing script and a CR LF one (no "/bin/sh\r") are the upgrade's rows.
    row("backup: interpreter not executable", 1, backupScript(ScriptFile::NullInterpreter),
        "備份腳本運行失敗", {}, unstartedLog, "sim");
    row("backup: junk after an ELF header", 1, backupScript(ScriptFile::ElfJunk), "備份腳本運行失敗",
        {}, unstartedLog, "sim");
    row("backup: script a link off the medium", 1,
        Medium().link("run/backup_script.sh", "/bin/true"), "備份腳本不存在", {}, missingLog, "sim");
    row("backup: side file a FIFO", 1, backupScript(archives.writes(Does::FifoSum)),
        "備份失敗 ：備份檔校驗錯誤", backup("1"), {}, "sim");
    // Of a flood only the head and the tail are logged, with a marker between.
    row("backup: a flood of output, 1 GiB and more", 1, backupScript(Script::exits(0)
        .writes(Does::Flood1GiB).writes(Does::Flood).writes(Does::Archive).writes(Does::SideFile)),
        kSuccess[1], backup("1"), {"Standard Output:  [cut: 1093741830 bytes in all]",
        "Standard Output:  \"last\"", "\" [cut: 150000000 bytes in all] \"\\x00"}, "sim");

    auto recovers = [](const Script &script) {
        return Medium().script(Job::Recover, script).backup("1", 1).backup("2", 2);
    };
    const QStringList third = {"A7", "data-A7-3-3.tar", "3", "%data"};
    const QString done = QStringLiteral("數據還原成功");
    const QString failed = QStringLiteral("數據還原失敗");
    row("restore: the newest of three", 2, recovers(Script::exits(0)).backup("3", 3), done, third,
        {"===  runCmdSH   \"%run/recover_script.sh\""}, "auto", "A7", pullUsb);
    // Every archive is hashed, whatever its index: none of these side files
    // may hang the tool or grow its memory.
    row("restore: newer side files a FIFO, links to devices, 256 MiB of NUL, 96 MiB of x", 2,
        recovers(Script::exits(0)).backup("3", 3, Spoil::Fifo).backup("4", 4, Spoil::DevZero)
            .backup("5", 5, Spoil::KernelFile).backup("6", 6, Spoil::Nul256MiB)
            .backup("7", 7, Spoil::X96MiB), done, {"A7", "data-A7-2-2.tar", "2", "%data"}, {},
        "sim");
    row("restore: serial unset", 2, Medium().script(Job::Recover, Script::exits(0))
        .backup("2026", 1), done, {"", "data--2026-1.tar", "1", "%data"}, {}, "sim", QVariant());
    row("restore: script exits 1", 2, recovers(Script::exits(1)).backup("3", 3), failed, third,
        {"===  on_pb_recover_clicked", "Exit Status: QProcess::NormalExit", "Exit Code: 1"});
    // Nothing is written to a script: one that reads its input still ends.
    // Its output is logged line by line up to the first NUL byte.
    row("restore: what the script says", 2, recovers(Script::exits(0).writes(Does::Talk))
        .backup("3", 3), done, third,
        {"Standard Output:  \"a\"", "Standard Output:  \"完成\"", "Standard Output:  \"A7\"",
         "Standard Output:  \"x\"", "!Standard Output:  \"z\"", "Error Output: \"oops\\n\""}, "sim");
    row("restore: script killed", 2, recovers(Script::exits(0).writes(Does::Killed))
        .backup("3", 3), failed, third, {"Exit Status: QProcess::CrashExit"}, "sim");
    row("restore: script missing", 2, recovers(ScriptFile::Missing), failed, {}, missingLog, "sim");

    auto upgrades = [](const Script &script) {
        return Medium().script(Job::Upgrade, script).package("update-V2.0.tar").version("V1.0\n");
    };
    const QStringList upgraded = {"A7", "update-V2.0.tar", "0", "%upgrade"};
    const Script installs = Script::exits(0).setsVersion("V2.0");
    row("upgrade: installed", 3, upgrades(installs), "升級成功", upgraded,
        {"===  DataUpgradeView auto run "}, "auto", "A7", {"等待設備重啟，請拔出升級工具設備"});
    // The package is still there: rebooting with it would upgrade again.
    row("upgrade: already on the version", 3, upgrades(installs).version("V2.0\n"),
        "已經是最新版本: V2.0", {}, {}, "auto", "A7", {"請拔出升級工具設備...", "等待設備重啟"});
    row("upgrade: version not rewritten", 3, upgrades(Script::exits(0)),
        "升級失敗,軟體版本未更新", upgraded, {}, "sim");
    row("upgrade: exit 1", 3, upgrades(Script::exits(1)), "升級失敗", upgraded,
        {" ==== on_pb_upgraded_clicked"});
    row("upgrade: script missing", 3, upgrades(ScriptFile::Missing), "備份腳本不存在", {},
        missingLog, "sim");
    row("upgrade: script does not start", 3, upgrades(ScriptFile::BadInterpreter),
        "備份腳本運行失敗", {}, unstartedLog, "sim");
    row("upgrade: upper-case name, the reference script", 3, Medium()
        .script(Job::Upgrade, ScriptFile::Reference).package("UPDATE-V3.TAR").version("V1.0\n"),
        "升級失敗", {}, {}, "sim");
    row("upgrade: side file a FIFO", 3, upgrades(installs).package("update-V2.tar", Spoil::Fifo),
        "升級包校驗錯誤", {}, {}, "sim");
    row("upgrade: run/upgrade leads off the medium", 3, Medium().link("run/upgrade",
        Medium::Elsewhere).lay(upgrades(installs)), "升級包不存在", {}, {}, "sim");
}

void TestJobs::jobs()
{
    QFETCH(int, job);
    QFETCH(Medium, medium);
    QFETCH(QString, note);
    QFETCH(QStringList, given);
    QFETCH(QString, start);
    QFETCH(QVariant, serial);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, last);
    const std::unique_ptr<Row> row = start == "sim"
                                         ? std::move(simRows()[QTest::currentDataTag()])
                                         : prepare(job, medium, serial);
    const TestDevice &device = row->device;

    bool timedOut = false;
    const Transcript transcript = start == "sim"
                                      ? collectSimulator(row->sim, &timedOut)
                                      : runInProcess(job, start == "auto", device.medium());
    QVERIFY2(!timedOut, "the job did not end within the time limit");
    QVERIFY2(transcript.fault.isEmpty(), qPrintable(transcript.fault));
    QCOMPARE(transcript.notes.value(transcript.notes.size() - 1), note);

    const QString after = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
    QStringList received = device.recordedArguments(kScripts[job]);
    const QString stamp = received.value(1);
    if (job == 1 && !given.isEmpty())
        QVERIFY2(stamp.size() == 14 && stamp >= row->before && stamp <= after, qPrintable(stamp));
    for (QStringList *texts : {&given, &logged})
        texts->replaceInStrings("%stamp", stamp)
            .replaceInStrings("%data", device.runDir() + "/data")
            .replaceInStrings("%upgrade", device.runDir() + "/upgrade")
            .replaceInStrings("%run", device.runDir());
    QCOMPARE(received, given);
    if (job > 1 && !given.isEmpty())
        QCOMPARE(row->handed, given.value(1));
    QCOMPARE(listing(device.elsewhere()), row->elsewhere);
    const QString missed = TestSupport::missed(transcript.log.join(QLatin1Char('\n')), logged);
    QVERIFY2(missed.isEmpty(), qPrintable(missed));

#if !defined(KORVELLO_SANITIZE)
    if (start == "sim" && QString::fromLocal8Bit(KORVELLO_EMULATOR).isEmpty())
        QVERIFY2(TestSupport::childrenPeakKiB() < kPeakLimitKiB,
                 qPrintable(QString::number(TestSupport::childrenPeakKiB())));
#endif
    // check knows the end unless the script ran and its exit code decides it.
    const bool byScript = row->prediction.startsWith("script: ") && !given.isEmpty();
    QVERIFY2(byScript ? note != kSuccess[job] || row->prediction.mid(8) == note
                      : row->prediction == note, qPrintable(row->prediction));

    if (start == "sim")
        return;
    QVERIFY(transcript.notes.contains(kBusy[job]));
    QVERIFY2(start != "button" || transcript.log.contains(kClickLine[job]) == (job > 1),
             "the start button's line");
    // The second line is shown empty until an automatic start, hidden while
    // the job runs, then counts down.
    QStringList renotes = start == "auto" ? QStringList("") : QStringList();
    for (int second = 5; second >= (last.isEmpty() ? 5 : 1); --second)
        renotes << QString::number(second) + QStringLiteral("秒後自動重啟");
    QCOMPARE(transcript.renotes, renotes + last);
    QCOMPARE(TestSupport::rebootCount(), int(!last.isEmpty()));
    checkTiming(transcript, job, start == "auto", !last.isEmpty());
}

KORVELLO_TEST_MAIN(TestJobs)
#include "tst_jobs.moc"
