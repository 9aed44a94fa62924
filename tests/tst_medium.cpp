#include "commandline.h"
#include "filesystem.h"
#include "testdevice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QtTest>

// korvello-medium's decisions on media built at run time, and check run
// against the simulator on the same medium to prove that the two agree.
class TestMedium : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void fatLimit();
    void commands_data();
    void commands();
    void prepareCopiesTheBuiltInScripts();
    void checkPredictsTheDevice_data();
    void checkPredictsTheDevice();
};

namespace {

const int kRunTimeoutMs = 120000;

// An archive and its side file in md5sum's form, spoilt as kind says: "bad"
// digest, "none" (no side file), "upper" case, "bom" first or named ".MD5".
void addArchive(const TestDevice &device, const QString &archive, QString side,
                const QString &kind)
{
    QVERIFY(TestSupport::makeTar(archive, archive.toUtf8()));
    QByteArray line = TestSupport::md5sumLine(archive);
    if (kind == QLatin1String("bad"))
        line = QByteArray(32, '0') + '\n';
    if (kind == QLatin1String("upper"))
        line = line.toUpper();
    if (kind == QLatin1String("bom"))
        line.prepend("\xEF\xBB\xBF");
    if (kind == QLatin1String(".MD5"))
        side.replace(QStringLiteral(".md5"), kind);
    if (kind != QLatin1String("none"))
        device.writeFile(side, line);
}

// A medium for device A7 from lines "backup STAMP INDEX [KIND]", "package NAME
// [KIND]", "file PATH" and "version TEXT" (the version file, written as given).
void layOut(const TestDevice &device, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QStringList words = line.split(QLatin1Char(' '));
        const QString backup = device.medium() + QStringLiteral("/run/data/data-A7/data-A7-")
                               + words.value(1) + QLatin1Char('-') + words.value(2);
        const QString package = device.medium() + QStringLiteral("/run/upgrade/") + words.value(1);
        if (words.at(0) == QLatin1String("backup"))
            addArchive(device, backup + ".tar", backup + ".md5", words.value(3));
        if (words.at(0) == QLatin1String("package"))
            addArchive(device, package, package + ".md5", words.value(2));
        if (words.at(0) == QLatin1String("file"))
            device.writeFile(device.medium() + QLatin1Char('/') + words.at(1), "x");
        if (words.at(0) == QLatin1String("version"))
            device.writeVersionFile(line.mid(8).toUtf8());
    }
}

// check's report, run as the command line runs it.
QString check(const TestDevice &device)
{
    QStringList arguments = {"check", device.medium(), "--snum", "A7"};
    if (QFile::exists(device.versionFile()))
        arguments << QStringLiteral("--version-file") << device.versionFile();
    QString report;
    QTextStream out(&report);
    const int exitCode = MediumCommand::run(arguments, out, out);
    out.flush();
    return exitCode == 0 ? report : QStringLiteral("exit code %1\n").arg(exitCode) + report;
}

} // namespace

void TestMedium::report_data()
{
    QTest::addColumn<QStringList>("medium");
    QTest::addColumn<QStringList>("says"); // "!" + text: must not say it
    const QString one = QStringLiteral("backup 20240101000000 1");
    const QString restoresOne = QStringLiteral("restores: data-A7-20240101000000-1.tar (index 1)");
    QTest::newRow("a file where run/data goes") << QStringList{"file run/data"}
                                                << QStringList{"next index: 0", "blocked"};
    QTest::newRow("newer archives damaged")
        << QStringList{one, "backup 20240102000000 2", "backup 20240103000000 3 bad",
                       "backup 20240104000000 4 none", "backup 20240105000000 7 upper"}
        << QStringList{"next index: 8", "expected files: data-A7-YYYYMMDDhhmmss-8.tar and",
                       "restores: data-A7-20240102000000-2.tar (index 2)",
                       "(index 3): passed over: digests differ",
                       "(index 4): passed over: the side file data-A7-20240104000000-4.md5 yields no digest",
                       "(index 7): passed over: the side file data-A7-20240105000000-7.md5 yields",
                       "warning: run/data/data-A7/data-A7-20240105000000-7.md5: the digest is "
                       "in upper case"};
    QTest::newRow("nothing intact but index 0")
        << QStringList{"backup 20240101000000 1 bad", "backup 20240102000000 x"}
        << QStringList{"(index 0): passed over: index 0", "restores: nothing"};
    QTest::newRow("same index: the earlier time stamp wins")
        << QStringList{"backup 20240105000000 4", "backup 20240104000000 4"}
        << QStringList{"restores: data-A7-20240104000000-4.tar (index 4)",
                       "(index 4): passed over: same index"};
    QTest::newRow("the last package in name order, not the highest number")
        << QStringList{"package update-V1.10.tar", "package update-V1.9.tar", "version V1.9\n"}
        << QStringList{"takes: update-V1.9.tar", "already installed: yes",
                       "takes the last in name order, update-V1.9.tar"};
    QTest::newRow("no final line feed loses the last character")
        << QStringList{"package update-V2.tar", "version V2"}
        << QStringList{"device version: \"V\"", "already installed: no"};
    QTest::newRow("checksum fails: no version compared")
        << QStringList{"package update-V2.tar bad", "version V2\n"}
        << QStringList{"checksum: fails", "!already installed"};
    QTest::newRow("._ file") << QStringList{"file run/upgrade/._update-V1.tar"}
                             << QStringList{"run/upgrade/._update-V1.tar: a \"._\" file"};
    QTest::newRow("upper-case extension") << QStringList{one + " .MD5"}
                                          << QStringList{".MD5: the extension is not in lower"};
    QTest::newRow("byte-order mark") << QStringList{one + " bom"}
                                     << QStringList{"-1.md5: begins with a byte-order mark"};
    QTest::newRow("no execute bit") << QStringList{"file run/recover_script.sh"}
                                    << QStringList{"run/recover_script.sh: no execute bit"};
    QTest::newRow("no run folder") << QStringList() << QStringList{"no run/ folder"};
    QTest::newRow("clean medium") << QStringList{one, "package update-V1.tar", "version V1\n"}
                                  << QStringList{restoresOne, "takes: update-V1.tar", "!warning"};
}

void TestMedium::report()
{
    QFETCH(QStringList, medium);
    QFETCH(QStringList, says);
    TestDevice device;
    layOut(device, medium);
    const QString report = check(device);
    for (const QString &text : says) {
        const bool absent = text.startsWith(QLatin1Char('!'));
        QVERIFY2(report.contains(text.mid(absent ? 1 : 0)) != absent,
                 qPrintable(text + QStringLiteral(" in:\n") + report));
    }
}

// No FAT medium can be mounted here: the size rule is checked alone.
void TestMedium::fatLimit()
{
    const qint64 fourGiB = Q_INT64_C(4294967296);
    QVERIFY(!MediumFileSystem::tooLargeForFat(fourGiB - 1, QStringLiteral("vfat")));
    QVERIFY(MediumFileSystem::tooLargeForFat(fourGiB, QStringLiteral("vfat")));
    QVERIFY(!MediumFileSystem::tooLargeForFat(fourGiB, QStringLiteral("exfat")));
}

void TestMedium::commands_data()
{
    QTest::addColumn<QStringList>("arguments"); // %m: an empty medium, %r: the device's "/"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("unknown command") << QStringList{"format"} << 2 << "unknown command format";
    QTest::newRow("check --help") << QStringList{"check", "--help"} << 0 << "--version-file F";
    QTest::newRow("unknown option") << QStringList{"check", "%m", "--snm", "A7"} << 2
                                    << "unknown option --snm";
    QTest::newRow("option without value") << QStringList{"check", "%m", "--snum"} << 2
                                          << "--snum needs a value";
    QTest::newRow("missing medium") << QStringList{"check", "/nonexistent-medium"} << 3
                                    << "/nonexistent-medium: no such folder";
    QTest::newRow("missing version file")
        << QStringList{"check", "%m", "--version-file", "/nonexistent.cfg"} << 3 << "no such file";
    QTest::newRow("pack a version the device would not list")
        << QStringList{"pack-upgrade", "--version", "2.0", "--payload", "%r", "%m"} << 2
        << "2.0 cannot be a package version";
    QTest::newRow("pack a payload that carries the version file")
        << QStringList{"pack-upgrade", "--version", "V2", "--payload", "%r", "%m"} << 1
        << "must not carry etc/version.cfg";
}

// A command that fails leaves the medium as it was.
void TestMedium::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    TestDevice device;
    device.writeVersionFile("V1\n");
    arguments.replaceInStrings(QStringLiteral("%m"), device.medium());
    arguments.replaceInStrings(QStringLiteral("%r"), device.root());
    QString said;
    QTextStream out(&said);
    QCOMPARE(MediumCommand::run(arguments, out, out), exitCode);
    out.flush();
    QVERIFY2(said.contains(says), qPrintable(said));
    QCOMPARE(QDir(device.medium()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

void TestMedium::prepareCopiesTheBuiltInScripts()
{
    TestDevice device;
    QProcess tool;
    TestSupport::startExecutable(tool, QStringLiteral(KORVELLO_MEDIUM_BIN),
                                 {QStringLiteral("prepare"), device.medium()});
    QVERIFY(tool.waitForFinished(kRunTimeoutMs) && tool.exitCode() == 0);
    const QDir source(QStringLiteral(KORVELLO_SOURCE_DIR "/medium"));
    const QStringList scripts = source.entryList({QStringLiteral("*.sh")}, QDir::Files);
    QCOMPARE(scripts.size(), 3);
    for (const QString &name : scripts) {
        QFile original(source.filePath(name));
        QFile copy(device.runDir() + QLatin1Char('/') + name);
        QVERIFY2(QFileInfo(copy).isExecutable(), qPrintable(name));
        QVERIFY(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());
    }
}

void TestMedium::checkPredictsTheDevice_data()
{
    QTest::addColumn<int>("control");
    QTest::addColumn<QString>("deviceVersion");
    QTest::newRow("backup") << 1 << "V1.0";
    QTest::newRow("restoration") << 2 << "V1.0";
    QTest::newRow("upgrade") << 3 << "V1.0";
    QTest::newRow("upgrade already installed") << 3 << "V1.9";
}

// check's report, then the job on the simulated device with the same medium,
// whose scripts only record what they were given.
void TestMedium::checkPredictsTheDevice()
{
    QFETCH(int, control);
    QFETCH(QString, deviceVersion);
    TestDevice device;
    layOut(device, {"backup 20240101000000 1", "backup 20240102000000 2",
                    "backup 20240103000000 3 bad", "package update-V1.10.tar",
                    "package update-V1.9.tar", "version " + deviceVersion + '\n'});
    const QStringList scripts = {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"};
    for (const QString &script : scripts)
        device.writeRecordingScript(script);
    const QString report = check(device);

    qputenv("snum", "A7");
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    TestSupport::startExecutable(sim, QStringLiteral(KORVELLO_SIM_BIN),
                                 {"--root", device.root(), "-platform", "offscreen", "-c",
                                  QString::number(control)});
    QByteArray log;
    // Once the countdown runs the job is decided. The medium is pulled out
    // then, as a device that already runs the package waits for that.
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAll()).contains("rebootCount  5"), kRunTimeoutMs);
    QVERIFY(QDir(device.medium() + QStringLiteral("/run/upgrade")).removeRecursively());
    QVERIFY(sim.waitForFinished(kRunTimeoutMs));
    QVERIFY2((log += sim.readAll()).contains("reboots now"), log.constData());

    // What the device did: the arguments its script got, or its final note.
    const QStringList given = device.recordedArguments(scripts.at(control - 1));
    QString did = scripts.at(control - 1) + QStringLiteral(" gets \"%1\" \"%2\"");
    if (control == 1)
        did = QStringLiteral("next index: %2\n");
    did.replace("%1", given.value(1)).replace("%2", given.value(2));
    if (given.isEmpty()) {
        did = QStringLiteral("已經是最新版本: ") + deviceVersion;
        QVERIFY2(log.contains("the screen shows: " + did.toUtf8()), log.constData());
    }
    QVERIFY2(report.contains(did), qPrintable(did + QStringLiteral(" in:\n") + report));
}

KORVELLO_TEST_MAIN(TestMedium)
#include "tst_medium.moc"
