// The three jobs, row by row: what is on the medium, what the script does,
// the note the job ends on, what the script was given and what the tool
// logged of it. Each row runs through the screen's start button, its
// automatic start (then on to the reboot), or the real tool (korvello-sim, a
// child with a time limit: a medium that could hang or flood the tool is
// never run in this process). korvello-medium's check reads the same medium
// first and must predict what the screen showed.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using TestSupport::kSlackMs;

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
struct Gap
{
    const char *from;
    const char *to;
    int ms;
};
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
    if (job == 1)
        return std::make_unique<DataBackupView>();
    if (job == 2)
        return std::make_unique<DataRecoverView>();
    return std::make_unique<DataUpgradeView>();
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
    for (int i = 0; i < transcript.log.size(); ++i) {
        if (transcript.log.at(i).contains(text))
            return transcript.at.at(i);
    }
    return -1;
}

// The real tool as the device starts it; its transcript is what it printed.
Transcript runSimulator(const TestDevice &device, int job, bool *timedOut)
{
    QProcess sim;
    const QString output = TestSupport::runChild(
        sim, QStringLiteral(KORVELLO_SIM_BIN),
        {"--root", device.root(), "-platform", "offscreen", "-c", QString::number(job)},
        "second line: " + kFirstTick, kJobLimitMs, timedOut);
    Transcript transcript;
    transcript.log = output.split(QLatin1Char('\n'));
    static const QRegularExpression noteLine(QStringLiteral("^korvello-sim: note: (.*)$"),
                                             QRegularExpression::MultilineOption);
    for (auto match = noteLine.globalMatch(output); match.hasNext();)
        transcript.notes << match.next().captured(1);
    return transcript;
}

// What check's JSON report says the job ends with: the note, or "script: "
// + the success note when the script's exit code decides; and the file it
// says the restoration or upgrade script gets. The report must have the
// form its schema documents.
QString predicted(const TestDevice &device, int job, const QString &snum, QString *handed)
{
    static const QJsonObject schema = [] {
        QFile file(QStringLiteral(KORVELLO_SOURCE_DIR "/tools/medium/check-report.schema.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }();
    const QString report = device.checkReport(snum, {"--json"});
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

} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void jobs_data();
    void jobs();

private:
    static void checkTiming(const Transcript &transcript, int job, bool automatic, bool counted);
};

void TestJobs::init()
{
    TestSupport::resetRebootCount();
}

void TestJobs::jobs_data()
{
    QTest::addColumn<int>("job");             // the control value: 1 backup, 2 restore, 3 upgrade
    QTest::addColumn<QStringList>("medium");  // as TestDevice::lay reads it
    QTest::addColumn<QString>("note");        // the note the job ends on
    QTest::addColumn<QStringList>("given");   // to the script; empty: it never ran
    QTest::addColumn<QString>("start");       // button, auto or sim
    QTest::addColumn<QVariant>("serial");     // null: snum unset
    QTest::addColumn<QStringList>("logged");  // each in a line of the log; "!": in none
    QTest::addColumn<QStringList>("last");    // auto: the second line after the count
    auto row = [](const char *name, int job, const QStringList &medium, const QString &note,
                  const QStringList &given, const QString &start = "button",
                  const QVariant &serial = QStringLiteral("A7"),
                  const QStringList &logged = QStringList(), const QStringList &last = {}) {
        QTest::newRow(name) << job << medium << note << given << start << serial << logged
                            << last;
    };
    const QStringList pullUsb = {"等待設備重啟，請拔出U盤"};
    const QStringList missingLog = {"Error: Script does not exist - \"%run/"};
    const QStringList noexecLog = {"Error: Script is not executable - \"%run/"};
    const QStringList unstartedLog = {"Error: Failed to start script -"};
    const QString busy = QStringLiteral("數據備份中，請稍後...");
    const QString good = QStringLiteral(" 備份成功 ");
    const QString mismatch = QStringLiteral("備份失敗 ：備份檔校驗錯誤");
    const QString missing = QStringLiteral("備份失敗 ：備份檔不存在");
    const QString folderFailed = QStringLiteral("創建備份檔夾失敗");
    auto backup = [](const char *index, const char *serial = "A7") {
        return QStringList{serial, "%stamp", index, "%data"};
    };
    const QStringList exit3 = {"script backup 3"};
    const QStringList goodScript = {"script backup 0 good"};

    row("backup: first on an empty medium", 1, goodScript, good, backup("1"), "auto", "A7",
        {"===  runBackupSH   \"%run/backup_script.sh\""}, pullUsb);
    // With a history, so that check's lastRun meets the schema too.
    row("backup: highest index + 1", 1, exit3 + QStringList{"backup 20240101000000 1",
        "backup 20240102000000 5", "backup 20240103000000 3",
        "file run/log/A7.log 2026-12-06T05:00:00Z\\tbackup\\t3\\tmissing\\t0\\t1\\tA7\\n"}, busy,
        backup("6"));
    row("backup: upper case counts; side files, folders, links do not", 1, exit3 + QStringList{
        "backup DATA-A7-20240101000000-4.TAR", "file run/data/data-A7/data-A7-x-7.md5",
        "dir run/data/data-A7/data-A7-x-8.tar", "link run/data/data-A7/data-A7-x-9.tar %else"},
        busy, backup("5"));
    row("backup: no 32-bit index, never below 2", 1, exit3 + QStringList{"backup 2024 x",
        "backup 2024 0", "backup 2024 2147483648", "backup data-A7-5-.tar"}, busy, backup("2"));
    row("backup: serial with -", 1, exit3 + QStringList{"backup 2024 4"}, busy,
        backup("5", "A-7"), "button", "A-7");
    row("backup: serial with . cuts the name", 1, exit3 + QStringList{"backup 2024 7"}, busy,
        backup("2", "1.2"), "button", "1.2");
    row("backup: serial unset", 1, exit3 + QStringList{"backup 2024 3"}, busy,
        backup("4", ""), "button", QVariant());
    row("backup: largest index taken", 1, goodScript + QStringList{"backup 2024 2147483647"},
        "備份失敗", {});
    row("backup: a file where the device folder goes", 1, goodScript + QStringList{
        "file run/data/data-A7"}, folderFailed, {});
    row("backup: run/data leads off the medium", 1, goodScript + QStringList{
        "link run/data %else"}, folderFailed, {}, "sim");
    row("backup: run/data a dangling link", 1, goodScript + QStringList{
        "link run/data %root/nowhere"}, folderFailed, {}, "sim");
    row("backup: a serial that climbs off the medium", 1, goodScript, folderFailed, {}, "button",
        "../../../../../../elsewhere/x");
    row("backup: a serial that climbs out of run/data", 1, goodScript, folderFailed, {}, "button",
        "../../../x");
    row("backup: script missing", 1, {"script backup missing"}, "備份腳本不存在", {}, "button",
        "A7", missingLog);
    row("backup: script not executable", 1, {"script backup noexec"}, "備份腳本不可運行", {},
        "button", "A7", noexecLog);
    row("backup: script saved with CR LF", 1, {"script backup crlf"}, "備份腳本運行失敗", {},
        "sim", "A7", unstartedLog);
    row("backup: interpreter not executable", 1, {"script backup nullinterpreter"},
        "備份腳本運行失敗", {}, "button", "A7", unstartedLog);
    row("backup: junk after an ELF header", 1, {"script backup elfjunk"}, "備份腳本運行失敗", {},
        "button", "A7", unstartedLog);
    row("backup: a folder for a script", 1, {"script backup dir"}, "備份腳本運行失敗", {},
        "button", "A7", unstartedLog);
    row("backup: script a link off the medium", 1, {"link run/backup_script.sh /bin/true"},
        "備份腳本不存在", {}, "button", "A7", missingLog);
    row("backup: exit 0, nothing written", 1, {"script backup 0"}, missing, backup("1"));
    row("backup: another index written", 1, {"script backup 0 otherindex good"}, missing,
        backup("1"));
    row("backup: no side file", 1, {"script backup 0 archive"}, "備份失敗 ：備份檔MD5不不存在",
        backup("1"));
    row("backup: wrong digest", 1, {"script backup 0 archive wrongsum"}, mismatch, backup("1"));
    row("backup: upper-case digest", 1, {"script backup 0 archive uppersum"}, mismatch,
        backup("1"));
    row("backup: unreadable archive, empty side file", 1, {"script backup 0 unreadable"},
        mismatch, backup("1"));
    row("backup: side file a FIFO", 1, {"script backup 0 archive fifosum"}, mismatch,
        backup("1"), "sim");
    row("backup: side file in UTF-16", 1, {"script backup 0 archive utf16sum"}, good,
        backup("1"));
    // Of a flood only the head and the tail are logged, with a marker between.
    row("backup: a flood of output", 1, {"script backup 0 flood good"}, good, backup("1"), "sim",
        "A7", {"Standard Output:  [cut: 20000006 bytes in all]", "Standard Output:  \"last\"",
               "\" [cut: 150000000 bytes in all] \"\\x00"});
    row("backup: 1 GiB of output", 1, {"script backup 0 flood1g good"}, good, backup("1"), "sim");

    const QStringList three = {"script recover 0", "backup 20260101080000 1",
                               "backup 20260102080000 2 alone", "backup 20260103080000 3"};
    auto restore = [&three](const QString &spoilt) {
        return three.mid(0, 3) + QStringList{"backup 20260103080000 3 " + spoilt};
    };
    auto restored = [](const QString &name, const char *index, const char *serial = "A7") {
        return QStringList{serial, QStringLiteral("data-%1-%2.tar").arg(serial, name), index,
                           "%data"};
    };
    const QString done = QStringLiteral("數據還原成功");
    const QString none = QStringLiteral("備份檔不存在");
    row("restore: the newest of three", 2, three, done, restored("20260103080000-3", "3"), "auto",
        "A7", {"===  runCmdSH   \"%run/recover_script.sh\""}, pullUsb);
    row("restore: newest with another digest", 2, restore("wrong"), done,
        restored("20260102080000-2", "2"));
    row("restore: newest without side file", 2, restore("none"), done,
        restored("20260102080000-2", "2"));
    row("restore: newest cut short", 2, restore("truncated"), done,
        restored("20260102080000-2", "2"));
    row("restore: newest side file a FIFO", 2, restore("fifo"), done,
        restored("20260102080000-2", "2"), "sim");
    row("restore: newest side file a link to /dev/zero", 2, restore("zero"), done,
        restored("20260102080000-2", "2"), "sim");
    row("restore: newest side file a link to a kernel file", 2, restore("kernel"), done,
        restored("20260102080000-2", "2"), "sim");
    row("restore: newest side file a link off the medium", 2, restore("offmedium"), done,
        restored("20260102080000-2", "2"));
    row("restore: newest side file 1 GiB of NUL bytes", 2, restore("nul1g"), done,
        restored("20260102080000-2", "2"), "sim");
    row("restore: newest side file 150 MiB of x", 2, restore("x150"), done,
        restored("20260102080000-2", "2"), "sim");
    row("restore: newest side file CR LF, UTF-16", 2, three.mid(0, 3) + QStringList{
        "backup 20260103080000 3 crlf", "backup 20260104080000 4 utf16"}, done,
        restored("20260104080000-4", "4"));
    const QString stray = QStringLiteral("20260104080000%1").arg(QChar(0xDCFF)); // byte 0xFF
    row("restore: a name that is not UTF-8", 2, three + QStringList{"backup " + stray + " 4"},
        done, restored(stray + "-4", "4"));
    row("restore: equal index, earlier time stamp", 2, {"script recover 0",
        "backup 20260105080000 4", "backup 20260101080000 4", "backup 20260103080000 3"}, done,
        restored("20260101080000-4", "4"));
    row("restore: paired by base name", 2, {"script recover 0", "backup 20260101080000 2",
        "backup DATA-A7-20260103080000-5.TAR", "backup DATA-A7-20260104080000-6.TAR none",
        "backup DATA-A7-20260105080000-7.TAR dataless"}, done,
        restored("20260101080000-2", "2"), "sim");
    // Both list as index 6; each is hashed as the .tar, whose digest the
    // side file holds, and the .tar is what the script gets.
    row("restore: an upper-case twin is restored as the .tar", 2, {"script recover 0",
        "backup data-A7-20260101080000-6.TAR", "backup data-A7-20260101080000-6.tar"}, done,
        restored("20260101080000-6", "6"));
    row("restore: serial unset", 2, {"script recover 0", "backup 2026 1"}, done,
        restored("2026-1", "1", ""), "button", QVariant());
    row("restore: script exits 1", 2, QStringList{"script recover 1"} + three.mid(1),
        "數據還原失敗", restored("20260103080000-3", "3"), "button", "A7",
        {"===  on_pb_recover_clicked", "Exit Status: QProcess::NormalExit", "Exit Code: 1"});
    // Nothing is written to a script: one that reads its input still ends.
    // Its output is logged line by line up to the first NUL byte.
    row("restore: what the script says", 2, QStringList{"script recover 0 talk"} + three.mid(1),
        done, restored("20260103080000-3", "3"), "button", "A7",
        {"Standard Output:  \"a\"", "Standard Output:  \"完成\"", "Standard Output:  \"A7\"",
         "Standard Output:  \"x\"", "!Standard Output:  \"z\"", "Error Output: \"oops\\n\""});
    row("restore: script killed", 2, QStringList{"script recover 0 killed"} + three.mid(1),
        "數據還原失敗", restored("20260103080000-3", "3"), "button", "A7",
        {"Exit Status: QProcess::CrashExit"});
    row("restore: script missing", 2, three.mid(1), "數據還原失敗", {}, "button", "A7",
        missingLog);
    row("restore: no device folder", 2, {"script recover 0"}, none, {});
    row("restore: only side files", 2, {"script recover 0", "backup 2026 3 only"}, none, {});
    row("restore: index 0 and not a number", 2, {"script recover 0", "backup 2026 0",
        "backup 2026 x9"}, none, {});
    row("restore: run/data leads off the medium", 2, QStringList{"link run/data %else"} + three,
        none, {}, "sim");

    auto upgraded = [](const char *name) {
        return QStringList{"A7", name, "0", "%upgrade"};
    };
    const QString unchanged = QStringLiteral("升級失敗,軟體版本未更新");
    const QString noPackage = QStringLiteral("升級包不存在");
    const QString badChecksum = QStringLiteral("升級包校驗錯誤");
    const QStringList v2 = {"package update-V2.0.tar", "version V1.0\\n"};
    const QStringList installs = {"script upgrade 0 version V2.0"};
    row("upgrade: installed", 3, v2 + installs, "升級成功", upgraded("update-V2.0.tar"), "auto",
        "A7", {"===  DataUpgradeView auto run "}, {"等待設備重啟，請拔出升級工具設備"});
    // The package is still there: rebooting with it would upgrade again.
    row("upgrade: already on the version", 3, installs + QStringList{"package update-V2.0.tar",
        "version V2.0\\n"}, "已經是最新版本: V2.0", {}, "auto", "A7", {},
        {"請拔出升級工具設備...", "等待設備重啟"});
    row("upgrade: version after the first update-, before the last .tar", 3, installs
        + QStringList{"package update-V1-update-V2.tar.tar", "version V1-update-V2.tar\\n"},
        "已經是最新版本: V1-update-V2.tar", {});
    row("upgrade: device newer, no ordering", 3, installs + QStringList{
        "package update-V2.0.tar", "version V3.0\\n"}, "升級成功", upgraded("update-V2.0.tar"));
    row("upgrade: version not rewritten", 3, v2 + QStringList{"script upgrade 0"}, unchanged,
        upgraded("update-V2.0.tar"));
    row("upgrade: exit 1", 3, v2 + QStringList{"script upgrade 1"}, "升級失敗",
        upgraded("update-V2.0.tar"), "button", "A7", {" ==== on_pb_upgraded_clicked"});
    row("upgrade: script missing", 3, v2, "備份腳本不存在", {}, "button", "A7", missingLog);
    row("upgrade: script not executable", 3, v2 + QStringList{"script upgrade noexec"},
        "備份腳本不可運行", {}, "button", "A7", noexecLog);
    row("upgrade: script does not start", 3, v2 + QStringList{"script upgrade badinterpreter"},
        "備份腳本運行失敗", {}, "button", "A7", unstartedLog);
    row("upgrade: version file without line feed", 3, QStringList{"script upgrade 0",
        "package update-V2.0.tar", "version V2.0"}, unchanged, upgraded("update-V2.0.tar"));
    row("upgrade: version in other case", 3, QStringList{"script upgrade 0",
        "package update-V2.0.tar", "version v2.0\\n"}, unchanged, upgraded("update-V2.0.tar"));
    row("upgrade: upper-case name, the reference script", 3, QStringList{
        "script upgrade reference", "package UPDATE-V3.TAR", "version V1.0\\n"}, "升級失敗", {});
    row("upgrade: no package folder", 3, installs, noPackage, {});
    row("upgrade: only a side file", 3, installs + QStringList{"package update-V1.2.tar only"},
        noPackage, {});
    row("upgrade: names that do not match as a whole", 3, installs + QStringList{
        "package update-1.0.tar", "package xupdate-V1.0.tar", "package update-V1.0.tar.gz"},
        noPackage, {});
    row("upgrade: name order, not version order", 3, QStringList{"version V1.0\\n",
        "script upgrade 0 version V1.9", "package update-V1.10.tar", "package update-V1.9.tar"},
        "升級成功", upgraded("update-V1.9.tar"));
    row("upgrade: names ordered in lower case", 3, {"script upgrade 0", "version V1\\n",
        "package UPDATE-V3.TAR", "package update-V1.tar"}, unchanged, upgraded("UPDATE-V3.TAR"));
    row("upgrade: folders and links are no packages", 3, QStringList{"version V0\\n",
        "script upgrade 0 version V1", "package update-V1.tar", "package update-V3.tar dir",
        "package update-V4.tar link"}, "升級成功", upgraded("update-V1.tar"));
    row("upgrade: last one wrong, earlier one right", 3, installs + QStringList{
        "package update-V1.tar", "package update-V2.tar wrong"}, badChecksum, {});
    row("upgrade: upper-case digest", 3, installs + QStringList{"package update-V2.tar upper"},
        badChecksum, {});
    row("upgrade: side file a FIFO", 3, installs + QStringList{"package update-V2.tar fifo"},
        badChecksum, {}, "sim");
    row("upgrade: side file a link to a kernel file", 3, installs + QStringList{
        "package update-V2.tar kernel"}, badChecksum, {}, "sim");
    row("upgrade: side file a link off the medium", 3, installs + QStringList{
        "package update-V2.tar offmedium"}, badChecksum, {});
    row("upgrade: side file UTF-16", 3, v2 + QStringList{"script upgrade 0 version V2.0",
        "package update-V2.0.tar utf16"}, "升級成功", upgraded("update-V2.0.tar"));
    row("upgrade: run/upgrade leads off the medium", 3, installs + QStringList{
        "link run/upgrade %else", "package update-V2.tar"}, noPackage, {}, "sim");
}

void TestJobs::jobs()
{
    QFETCH(int, job);
    QFETCH(QStringList, medium);
    QFETCH(QString, note);
    QFETCH(QStringList, given);
    QFETCH(QString, start);
    QFETCH(QVariant, serial);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, last);
    TestDevice device;
    device.lay(medium, serial.toString());
    const QStringList elsewhere = listing(device.elsewhere());
    QString handed;
    const QString prediction = predicted(device, job, serial.toString(), &handed);
    TestSupport::setSerial(serial);
    // As under the simulator: the reference scripts keep to the device's root.
    qputenv("KORVELLO_SIM_ROOT", device.root().toLocal8Bit());
    const QString before = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");

    bool timedOut = false;
    const Transcript transcript = start == "sim"
                                      ? runSimulator(device, job, &timedOut)
                                      : runInProcess(job, start == "auto", device.medium());
    QVERIFY2(!timedOut, "the job did not end within the time limit");
    QVERIFY2(transcript.fault.isEmpty(), qPrintable(transcript.fault));
    QCOMPARE(transcript.notes.value(transcript.notes.size() - 1), note);

    const QString after = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
    QStringList received = device.recordedArguments(kScripts[job]);
    const QString stamp = received.value(1);
    if (job == 1 && !given.isEmpty())
        QVERIFY2(stamp.size() == 14 && stamp >= before && stamp <= after, qPrintable(stamp));
    for (QStringList *texts : {&given, &logged})
        texts->replaceInStrings("%stamp", stamp)
            .replaceInStrings("%data", device.runDir() + "/data")
            .replaceInStrings("%upgrade", device.runDir() + "/upgrade")
            .replaceInStrings("%run", device.runDir());
    QCOMPARE(received, given);
    if (job > 1 && !given.isEmpty())
        QCOMPARE(handed, given.value(1));
    QCOMPARE(listing(device.elsewhere()), elsewhere);
    for (const QString &text : logged) {
        const bool absent = text.startsWith(QLatin1Char('!'));
        QVERIFY2(transcript.log.filter(text.mid(absent ? 1 : 0)).isEmpty() == absent,
                 qPrintable(text));
    }

#if !defined(KORVELLO_SANITIZE)
    if (start == "sim" && QString::fromLocal8Bit(KORVELLO_EMULATOR).isEmpty())
        QVERIFY2(TestSupport::childrenPeakKiB() < kPeakLimitKiB,
                 qPrintable(QString::number(TestSupport::childrenPeakKiB())));
#endif
    // check knows the end unless the script ran and its exit code decides it.
    if (prediction.startsWith("script: ") && !given.isEmpty())
        QVERIFY2(note != kSuccess[job] || prediction.mid(8) == note, qPrintable(prediction));
    else
        QCOMPARE(prediction, note);

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

// Each step took at least its time; the countdown ticked once a second.
void TestJobs::checkTiming(const Transcript &transcript, int job, bool automatic, bool counted)
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
    QVERIFY2(ticked >= 5000 && ticked <= 5000 + kSlackMs, qPrintable(QString::number(ticked)));
}

KORVELLO_TEST_MAIN(TestJobs)
#include "tst_jobs.moc"
