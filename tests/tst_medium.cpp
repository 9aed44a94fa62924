#include "commandline.h"
#include "testdevice.h"

#include <QApplication>
#include <QtTest>

// korvello-medium's commands, and what check's report says beyond each job's
// end (which the jobs' suite compares with the screens). A command that fails
// leaves the medium as it was.
class TestMedium : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
};

void TestMedium::commands_data()
{
    QTest::addColumn<Medium>("medium");         // serial A7
    QTest::addColumn<QStringList>("arguments"); // %m: the medium, %r: the device's "/", %v: its
                                                // version file (V1 unless laid); ";" ends
                                                // a command, the last one's exit code counts
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("says"); // "!" + text: must not say it
    const Medium backupOnly
        = Medium().script(Job::Backup, ScriptFile::Reference).file("run/upgrade/._x");
    auto row = [](const char *name, const Medium &medium, const QStringList &arguments,
                  int exitCode, const QStringList &says) {
        QTest::newRow(name) << medium << arguments << exitCode << says;
    };
    const QStringList check = {"check", "%m", "--snum", "A7", "--version-file", "%v"};
    const QString one = QStringLiteral("20240101000000");
    row("check: why each newer archive is passed over", Medium().backup(one, 1)
        .backup("20240102000000", 2).backup("20240103000000", 3, Spoil::WrongDigest)
        .backup("20240104000000", 4, Spoil::NoSideFile).backup("20240105000000", 7,
        Spoil::UpperDigest).backup("2024", 8, Spoil::Truncated), check, 1,
        {"next index: 9", "expected files: data-A7-YYYYMMDDhhmmss-9.tar and",
         "restores: data-A7-20240102000000-2.tar (index 2)",
         "(index 3): passed over: digests differ",
         "(index 4): passed over: no side file data-A7-20240104000000-4.md5",
         "warning: run/data/data-A7/data-A7-20240105000000-7.md5: the digest is in upper case"});
    row("check: index 0 is never restored", Medium().backup(one, 1, Spoil::WrongDigest)
        .backupNamed("data-A7-20240102000000-x.tar"), check, 1,
        {"(index 0): passed over: index 0", "restores: nothing"});
    row("check: same index, the earlier time stamp wins", Medium().backup("20240105000000", 4)
        .backup("20240104000000", 4), check, 1,
        {"restores: data-A7-20240104000000-4.tar (index 4)", "(index 4): passed over: same index"});
    row("check: the last package in name order, not the highest number", Medium()
        .package("update-V1.10.tar").package("update-V1.9.tar").version("V1.9\n"), check, 1,
        {"takes: update-V1.9.tar", "already installed: yes",
         "takes the last in name order, update-V1.9.tar"});
    row("check: a package that is a link, the device does not list it",
        Medium().package("update-V1.tar", Spoil::LinkedOff), check, 1,
        {"takes: nothing", "run/upgrade/update-V1.tar: not taken"});
    row("check: package, no side file", Medium().package("update-V1.tar", Spoil::NoSideFile),
        check, 1, {"side file missing)"});
    row("check: version file with CR LF, a name the device ignores", Medium()
        .package("update-V1.tar").version("V1\r\n").file("run/upgrade/update-1.2.tar"), check, 1,
        {"run/upgrade/update-1.2.tar: not taken", "device version: \"V1\\r\"",
         "ends in a carriage return"});
    row("check: checksum fails, no version compared", Medium().package("update-V2.tar",
        Spoil::WrongDigest).version("V2\n"), check, 1, {"checksum: fails", "!already installed"});
    row("check: a name the reference script refuses", Medium().package("UPDATE-V2.TAR")
        .version("V1\n").script(Job::Upgrade, ScriptFile::Reference), check, 1,
        {"cuts no version", "outcome: the screen shows \"升級失敗\""});
    row("check: side files with upper-case extension, byte-order mark, not a file; ._ file",
        Medium().file("run/data/data-A7/x.MD5").backup(one, 1, Spoil::Utf16)
        .package("update-V1.tar", Spoil::Fifo).file("run/upgrade/._update-V1.tar"), check, 1,
        {"x.MD5: the extension is not in lower",
        "-1.md5: begins with a byte-order", "update-V1.tar.md5: not a regular file",
        "run/upgrade/._update-V1.tar: a \"._\" file"});
    row("check: scripts with no execute bit, CR LF", Medium().script(Job::Recover,
        ScriptFile::NotExecutable).script(Job::Upgrade, ScriptFile::CrLf), check, 1,
        {"run/recover_script.sh: no execute bit",
         "run/upgrade_script.sh: the device cannot start it"});
    row("check: why each script cannot start", Medium().script(Job::Backup,
        ScriptFile::BadInterpreter).script(Job::Recover, ScriptFile::ElfJunk)
        .script(Job::Upgrade, ScriptFile::Folder), check, 1,
        {"backup_script.sh: cannot be started: its interpreter /nonexistent/sh do",
         "recover_script.sh: cannot be started: an ELF header that is not",
         "upgrade_script.sh: cannot be started: it is not a regular file"});
    row("check: folders off the medium, blocked by a dangling link", Medium().link("run/data",
        Medium::Elsewhere).link("run/upgrade", Medium::Nowhere), check, 1,
        {"run/data/data-A7 leads off the medium",
         "run/upgrade: a file or a dangling symbolic link"});
    const QString stray = QStringLiteral("update-V1%1.tar").arg(QChar(0xDCFF)); // byte 0xFF
    row("check: a name that is not UTF-8", Medium().file("run/upgrade/" + stray), check, 1,
        {stray + ": the name is not valid UTF-8", "takes: " + stray});
    row("check: no run folder", {}, check, 1, {"no run/ folder"});
    row("check: clean medium", Medium().backup(one, 1).package("update-V1.tar").version("V1\n")
        .script(Job::Backup, ScriptFile::Reference), check, 1,
        {"restores: data-A7-20240101000000-1.tar", "takes: update-V1.tar",
         "backup_script.sh: executable, the reference script", "!warning"});
    row("unknown command", {}, {"format"}, 2, {"unknown command format"});
    row("unknown option", {}, {"check", "%m", "--snm", "A7"}, 2, {"unknown option --snm"});
    row("an option without its value", {}, {"check", "%m", "--snum"}, 2,
        {"korvello-medium check: missing value after '--snum'\n"});
    row("a flag given a value", {}, {"log", "%m", "--json=yes"}, 2,
        {"unexpected value after '--json'"});
    row("a single-dash word is a long option, -h is help", {}, {"log", "%m", "-snum", "A7", "-h"},
        0, {"korvello-medium log MEDIUM [--snum S]"});
    row("missing medium", {}, {"check", "/nonexistent-medium"}, 3,
        {"/nonexistent-medium: no such folder"});
    row("a file where the medium's folder goes", Medium().file("run/x"), {"check", "%m/run/x"}, 3,
        {"run/x: not a folder"});
    row("missing version file", {}, {"check", "%m", "--version-file", "/nonexistent.cfg"}, 3,
        {"no such file"});
    row("pack a version the device would not list", {},
        {"pack-upgrade", "--version", "2.0", "--payload", "%r", "%m"}, 2,
        {"2.0 cannot be a package version"});
    row("pack a payload that carries the version file", {},
        {"pack-upgrade", "--version", "V2", "--payload", "%r", "%m"}, 1,
        {"must not carry etc/version.cfg"});
    row("check: a job would fail", backupOnly, {"check", "%m", "--snum", "A7"}, 1,
        {"restores: nothing"});
    row("check: only the jobs named count", backupOnly,
        {"check", "%m", "--snum", "A7", "--job", "backup"}, 0, {"next index: 1"});
    row("check: warnings count with --strict", backupOnly,
        {"check", "%m", "--snum", "A7", "--job=backup", "--strict"}, 4, {"._x: a \"._\" file"});
    row("check: a job that does not exist", {}, {"check", "%m", "--job", "backup,copy"}, 2,
        {"no job copy"});
    row("check --json carries the exit code", backupOnly, {"check", "%m", "--json"}, 1,
        {"\"exitCode\": 1", "\"schema\": \"korvello-medium-check/1\""});
    row("check: serial unset", {}, {"check", "%m", "--snum", ""}, 1, {"the serial is empty"});
    row("check: backups of another serial", Medium().backup("2024", 1),
        {"check", "%m", "--snum", "B9"}, 1, {"run/data holds data-A7 but not data-B9"});
    row("check: control characters escaped", Medium().backup("2024", 1),
        {"check", "%m", "--snum", "B\x1b[2J"}, 1, {"data-B\\x1b[2J"});
    row("prepare keeps a script changed on the medium",
        Medium().script(Job::Backup, ScriptFile::Edited), {"prepare", "%m"}, 4,
        {"kept ", "run/backup_script.sh: it differs", "run/upgrade_script.sh\n"});
    const Medium recording = Medium().script(Job::Backup, Script::exits(0));
    row("prepare --force replaces it", recording, {"prepare", "%m", "--force"}, 0,
        {"wrote ", "run/backup_script.sh\n", "!kept"});
    row("prepare says when it changes nothing", Medium().script(Job::Backup, ScriptFile::Reference)
        .script(Job::Recover, ScriptFile::Reference).script(Job::Upgrade, ScriptFile::Reference),
        {"prepare", "%m"}, 0, {"nothing to change", "!wrote"});
    row("pack-upgrade --output, then info against a device", recording,
        {"pack-upgrade", "--version", "V3", "--payload", "%m/run", "--output", "%r/p/update-V3.tar",
         ";", "info", "%r/p/update-V3.tar", "--device-root", "%m/run"}, 0,
        {"update-V3.tar.md5\n", "version: \"V3\"", "checksum: holds",
         "layout: taken; 1 payload file(s)", "replaces 1 file(s)\n    /backup_script.sh\n",
         "device: no conflict"});
    // Against run/r as the device's "/": what the upgrade and restoration scripts refuse on.
    const QStringList pack
        = {"pack-upgrade", "--version", "V3", "--payload", "%m/run/p", "%m", ";"};
    const QStringList info = pack + QStringList{"info", "%m/run/upgrade/update-V3.tar",
                                                "--device-root", "%m/run/r"};
    const Medium opt = Medium().file("run/p/opt/thing/tool");
    row("info: a folder where the package has a file",
        Medium(opt).dir("run/r/opt/thing/tool"), info, 1,
        {"exit 9: conflict: /opt/thing/tool is a folder on the device, a file in the package"});
    row("info: a link to a folder counts as a folder",
        Medium().file("run/p/opt/thing").link("run/r/opt/thing", Medium::Elsewhere), info, 1,
        {"/opt/thing is a folder on the device, a file"});
    row("info: a link on the way", Medium(opt).link("run/r/opt/thing", Medium::Elsewhere), info, 1,
        {"/opt/thing is a symbolic link on the way of the package's folder"});
    row("info: NAME.korvello-old taken by a folder",
        Medium(opt).dir("run/r/opt/thing/tool.korvello-old"), info, 1,
        {"/opt/thing/tool.korvello-new or .korvello-old is a folder"});
    row("info: a version file that is a folder", Medium(opt).dir("run/r/etc/version.cfg"), info,
        1, {"exit 9: conflict: /etc/version.cfg is not a regular file"});
    row("check: a data folder that can be swapped", Medium().backup("20240101000000", 1)
        .script(Job::Recover, ScriptFile::Reference).dir("run/r/data"), {"check", "%m", "--snum",
        "A7", "--job", "restore", "--device-root", "%m/run/r"}, 0, {"device: no conflict"});
    row("check: the device refuses the package and the data folder",
        Medium(opt).file("run/r/opt/thing").file("run/p/a").dir("run/r/a")
            .link("run/r/data", Medium::Elsewhere).backup("20240101000000", 1)
            .script(Job::Upgrade, ScriptFile::Reference).script(Job::Recover,
                                                                ScriptFile::Reference),
        pack + QStringList{"check", "%m", "--snum", "A7", "--json", "--device-root", "%m/run/r",
                           ";", "check", "%m", "--snum", "A7", "--device-root", "%m/run/r"}, 1,
        {"\"device\": {", "/opt/thing is a file on the device, a folder in the package",
         "/data is not a folder; it cannot be swapped", "\"升級失敗\"", "\"數據還原失敗\""});
    row("info: a layout the upgrade script refuses", Medium().package("update-V2.tar"),
        {"info", "%m/run/upgrade/update-V2.tar"}, 1,
        {"checksum: holds", "refused: holds neither payload/ nor install.sh"});
    row("info: a name the device does not list, no side file", Medium().file("run/upgrade/x.tar"),
        {"info", "%m/run/upgrade/x.tar"}, 1,
        {"device: no, the device lists only update-V*.tar", "side file: missing"});
    // Two backups, a line of eight fields and an upgrade's line torn by a power cut.
    const QString run = "2026-12-06T0%1:00:00Z\t%2\t%3\t%4\t0\t3\tA7 x";
    const Medium history = Medium().file(
        "run/log/A7.log", (run.arg(4).arg("backup", "3", "missing") + "\n"
                           + run.arg(5).arg("backup", "5", "not enough room") + "\n"
                           + run.arg(5).arg("backup", "0", "done") + "\tmore\n"
                           + run.arg(6).arg("upgrade", "0", "done")).toUtf8());
    row("log: each run, torn lines skipped", history, {"log", "%m", "--snum", "A7"}, 0,
        {"2 run(s)\n", "backup  2026-12-06T05:00:00Z  exit 5 (not enough room), 0 bytes, 3 s  A7 x",
         "2 torn or unreadable line(s) skipped"});
    row("log --json", history, {"log", "%m", "--snum", "A7", "--json"}, 0, {"\"exitCode\": 5"});
    row("log: a serial's bytes as the scripts write them", history,
        {"log", "%m", "--snum", "A/7"}, 0, {"run/log/A_7.log: none"});
    row("check: the last run of each job", history, {"check", "%m", "--snum", "A7"}, 1,
        {"last run: 2026-12-06T05:00:00Z  exit 5 (not enough room), 0 bytes, 3 s\n",
         "last run: none recorded"});
    row("version", {}, {"--version"}, 0, {"korvello-medium Ver: "});
    row("help lists the command's own exit codes", {}, {"help", "prepare"}, 0,
        {"1  the medium could not be written", "!--strict"});
    row("check's exit codes", {}, {"check", "--help"}, 0,
        {"1  a job counted would end", "4  with --strict", "!could not be written"});
    row("prepare through a run/ that leads off the medium", Medium().link("run", Medium::Elsewhere),
        {"prepare", "%m"}, 1, {"leads off the medium"});
    row("pack through a run/upgrade that leads off the medium",
        Medium().link("run/upgrade", Medium::Elsewhere),
        {"pack-upgrade", "--version", "V2", "--payload", "%e", "%m"}, 1, {"leads off the medium"});
}

void TestMedium::commands()
{
    QFETCH(Medium, medium);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, says);
    TestDevice device;
    device.lay(medium, QStringLiteral("A7"));
    if (!QFile::exists(device.versionFile()))
        device.writeVersionFile("V1\n");
    const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot;
    const QStringList before = QDir(device.medium()).entryList(all);
    const QStringList elsewhere = QDir(device.elsewhere()).entryList(all);
    arguments.replaceInStrings("%m", device.medium()).replaceInStrings("%r", device.root())
        .replaceInStrings("%e", device.elsewhere()).replaceInStrings("%v", device.versionFile());
    QString said;
    QTextStream out(&said);
    for (int end = arguments.indexOf(";"); end >= 0; end = arguments.indexOf(";")) {
        MediumCommand::run(arguments.mid(0, end), out, out);
        arguments = arguments.mid(end + 1);
    }
    QCOMPARE(MediumCommand::run(arguments, out, out), exitCode);
    out.flush();
    const QString missed = TestSupport::missed(said, says);
    QVERIFY2(missed.isEmpty(), qPrintable(missed + "\n" + said));
    QCOMPARE(QDir(device.medium()).entryList(all), before);
    QCOMPARE(QDir(device.elsewhere()).entryList(all), elsewhere);
}

KORVELLO_TEST_MAIN(TestMedium)
#include "tst_medium.moc"
