#include "commandline.h"
#include "testdevice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QtTest>

// korvello-medium's commands, and what check's report says beyond each job's
// end (which the jobs' suite compares with the screens).
class TestMedium : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void commands_data();
    void commands();
};

void TestMedium::report_data()
{
    QTest::addColumn<QStringList>("medium"); // as TestDevice::lay reads it
    QTest::addColumn<QStringList>("says");   // "!" + text: must not say it
    const QString one = QStringLiteral("backup 20240101000000 1");
    QTest::newRow("why each newer archive is passed over")
        << QStringList{one, "backup 20240102000000 2", "backup 20240103000000 3 wrong",
                       "backup 20240104000000 4 none", "backup 20240105000000 7 upper",
                       "backup 20240106000000 8 truncated"}
        << QStringList{"next index: 9", "expected files: data-A7-YYYYMMDDhhmmss-9.tar and",
                       "restores: data-A7-20240102000000-2.tar (index 2)",
                       "(index 3): passed over: digests differ",
                       "(index 4): passed over: the side file data-A7-20240104000000-4.md5 yields",
                       "warning: run/data/data-A7/data-A7-20240105000000-7.md5: the digest is "
                       "in upper case"};
    QTest::newRow("index 0 is never restored")
        << QStringList{"backup 20240101000000 1 wrong", "backup 20240102000000 x"}
        << QStringList{"(index 0): passed over: index 0", "restores: nothing"};
    QTest::newRow("same index: the earlier time stamp wins")
        << QStringList{"backup 20240105000000 4", "backup 20240104000000 4"}
        << QStringList{"restores: data-A7-20240104000000-4.tar (index 4)",
                       "(index 4): passed over: same index"};
    QTest::newRow("the last package in name order, not the highest number")
        << QStringList{"package update-V1.10.tar", "package update-V1.9.tar", "version V1.9\\n"}
        << QStringList{"takes: update-V1.9.tar", "already installed: yes",
                       "takes the last in name order, update-V1.9.tar"};
    QTest::newRow("checksum fails: no version compared")
        << QStringList{"package update-V2.tar wrong", "version V2\\n"}
        << QStringList{"checksum: fails", "!already installed"};
    QTest::newRow("a name the reference script refuses")
        << QStringList{"package UPDATE-V2.TAR", "script upgrade reference", "version V1\\n"}
        << QStringList{"cuts no version", "outcome: the screen shows \"升級失敗\""};
    QTest::newRow("._ file") << QStringList{"file run/upgrade/._update-V1.tar"}
                             << QStringList{"run/upgrade/._update-V1.tar: a \"._\" file"};
    QTest::newRow("side files: upper-case extension, byte-order mark, not a file")
        << QStringList{"file run/data/data-A7/x.MD5", "backup 20240101000000 1 utf16",
                       "fifo run/upgrade/update-V1.tar.md5"}
        << QStringList{"x.MD5: the extension is not in lower", "-1.md5: begins with a byte-order",
                       "update-V1.tar.md5: not a regular file"};
    QTest::newRow("scripts: no execute bit, CR LF")
        << QStringList{"script recover noexec", "script upgrade crlf"}
        << QStringList{"run/recover_script.sh: no execute bit",
                       "run/upgrade_script.sh: the device cannot start it"};
    QTest::newRow("scripts: why each cannot start")
        << QStringList{"script backup badinterpreter", "script recover elfjunk",
                       "script upgrade dir"}
        << QStringList{"backup_script.sh: cannot be started: its interpreter /nonexistent/sh do",
                       "recover_script.sh: cannot be started: an ELF header that is not",
                       "upgrade_script.sh: cannot be started: it is not a regular file"};
    QTest::newRow("folders: off the medium, blocked by a dangling link")
        << QStringList{"link run/data %else", "link run/upgrade %root/nowhere"}
        << QStringList{"run/data/data-A7 leads off the medium",
                       "run/upgrade: a file or a dangling symbolic link"};
    const QString stray = QStringLiteral("update-V1%1.tar").arg(QChar(0xDCFF)); // byte 0xFF
    QTest::newRow("a name that is not UTF-8")
        << QStringList{"file run/upgrade/" + stray}
        << QStringList{stray + ": the name is not valid UTF-8", "takes: " + stray};
    QTest::newRow("no run folder") << QStringList() << QStringList{"no run/ folder"};
    QTest::newRow("clean medium")
        << QStringList{one, "package update-V1.tar", "version V1\\n", "script backup reference"}
        << QStringList{"restores: data-A7-20240101000000-1.tar", "takes: update-V1.tar",
                       "backup_script.sh: executable, the reference script", "!warning"};
}

void TestMedium::report()
{
    QFETCH(QStringList, medium);
    QFETCH(QStringList, says);
    TestDevice device;
    device.lay(medium, QStringLiteral("A7"));
    const QString report = device.checkReport(QStringLiteral("A7"));
    for (const QString &text : says) {
        const bool absent = text.startsWith(QLatin1Char('!'));
        QVERIFY2(report.contains(text.mid(absent ? 1 : 0)) != absent,
                 qPrintable(text + QStringLiteral(" in:\n") + report));
    }
}

void TestMedium::commands_data()
{
    QTest::addColumn<QStringList>("arguments"); // %m: an empty medium, %r: the device's "/"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("medium"); // laid first, as TestDevice::lay reads it
    QTest::newRow("unknown command") << QStringList{"format"} << 2 << "unknown command format"
                                    << QStringList();
    QTest::newRow("unknown option") << QStringList{"check", "%m", "--snm", "A7"} << 2
                                    << "unknown option --snm" << QStringList();
    QTest::newRow("missing medium") << QStringList{"check", "/nonexistent-medium"} << 3
                                    << "/nonexistent-medium: no such folder" << QStringList();
    QTest::newRow("missing version file")
        << QStringList{"check", "%m", "--version-file", "/nonexistent.cfg"} << 3 << "no such file"
        << QStringList();
    QTest::newRow("pack a version the device would not list")
        << QStringList{"pack-upgrade", "--version", "2.0", "--payload", "%r", "%m"} << 2
        << "2.0 cannot be a package version" << QStringList();
    QTest::newRow("pack a payload that carries the version file")
        << QStringList{"pack-upgrade", "--version", "V2", "--payload", "%r", "%m"} << 1
        << "must not carry etc/version.cfg" << QStringList();
    QTest::newRow("prepare through a run/ that leads off the medium")
        << QStringList{"prepare", "%m"} << 1 << "leads off the medium"
        << QStringList{"link run %else"};
    QTest::newRow("pack through a run/upgrade that leads off the medium")
        << QStringList{"pack-upgrade", "--version", "V2", "--payload", "%e", "%m"} << 1
        << "leads off the medium" << QStringList{"link run/upgrade %else"};
}

// A command that fails leaves the medium as it was.
void TestMedium::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QStringList, medium);
    TestDevice device;
    device.writeVersionFile("V1\n");
    device.lay(medium, QStringLiteral("A7"));
    const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot;
    const QStringList laid = QDir(device.medium()).entryList(all);
    const QStringList elsewhere = QDir(device.elsewhere()).entryList(all);
    arguments.replaceInStrings(QStringLiteral("%m"), device.medium());
    arguments.replaceInStrings(QStringLiteral("%r"), device.root());
    arguments.replaceInStrings(QStringLiteral("%e"), device.elsewhere());
    QString said;
    QTextStream out(&said);
    QCOMPARE(MediumCommand::run(arguments, out, out), exitCode);
    out.flush();
    QVERIFY2(said.contains(says), qPrintable(said));
    QCOMPARE(QDir(device.medium()).entryList(all), laid);
    QCOMPARE(QDir(device.elsewhere()).entryList(all), elsewhere);
}

KORVELLO_TEST_MAIN(TestMedium)
#include "tst_medium.moc"
