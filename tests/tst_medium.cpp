#include "filesystem.h"
#include "mediumcheck.h"
#include "mediumlayout.h"
#include "testdevice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// korvello-medium's decisions on media built at run time, and one run of the
// tool and the simulator on the same medium to prove the two agree.
class TestMedium : public QObject
{
    Q_OBJECT

private slots:
    void backupPlan_data();
    void backupPlan();
    void restoreChoice_data();
    void restoreChoice();
    void upgradeDecision_data();
    void upgradeDecision();
    void warnings_data();
    void warnings();
    void fatLimit_data();
    void fatLimit();
    void packUpgradeInstallsByTheReferenceScript();
    void packUpgradeRefuses_data();
    void packUpgradeRefuses();
    void prepareCopiesTheBuiltInScripts();
    void exitCodes_data();
    void exitCodes();
    void predictionMatchesSimulator_data();
    void predictionMatchesSimulator();
};

namespace {

const char kSnum[] = "A7";

QString deviceFolder(const TestDevice &device)
{
    return device.medium() + QStringLiteral("/run/data/data-") + QLatin1String(kSnum);
}

// An archive of the device's folder with its side file. kind: "intact",
// "bad digest", "no side file", "upper digest".
void addBackup(const TestDevice &device, const QString &stamp, const QString &index,
               const QString &kind)
{
    const QString base = deviceFolder(device) + QStringLiteral("/data-") + QLatin1String(kSnum)
                         + QLatin1Char('-') + stamp + QLatin1Char('-') + index;
    QVERIFY(TestSupport::makeTar(base + QStringLiteral(".tar"), (stamp + index).toUtf8()));
    if (kind == QLatin1String("no side file"))
        return;
    TestSupport::writeSideFile(base + QStringLiteral(".tar"), base + QStringLiteral(".md5"));
    if (kind == QLatin1String("bad digest"))
        device.writeFile(base + QStringLiteral(".md5"),
                         QByteArrayLiteral("0123456789abcdef0123456789abcdef  x.tar\n"));
    if (kind == QLatin1String("upper digest"))
        device.writeFile(base + QStringLiteral(".md5"),
                         TestSupport::md5sumLine(base + QStringLiteral(".tar")).toUpper());
}

QString packagePath(const TestDevice &device, const QString &name)
{
    return device.medium() + QStringLiteral("/run/upgrade/") + name;
}

void addPackage(const TestDevice &device, const QString &name, bool intact = true)
{
    const QString path = packagePath(device, name);
    QVERIFY(TestSupport::makeTar(path, name.toUtf8()));
    TestSupport::writeSideFile(path, path + QStringLiteral(".md5"));
    if (!intact)
        device.writeFile(path + QStringLiteral(".md5"),
                         QByteArrayLiteral("00000000000000000000000000000000\n"));
}

MediumCheck::Options optionsFor(const TestDevice &device, bool withVersion)
{
    MediumCheck::Options options;
    options.medium = device.medium();
    options.snum = QString::fromLatin1(kSnum);
    options.versionKnown = withVersion;
    options.versionFile = device.versionFile();
    return options;
}

QString verdictOf(const MediumCheck::RestorePlan &plan, int index)
{
    for (const MediumCheck::RestoreCandidate &entry : plan.candidates) {
        if (entry.candidate.index == index && !entry.chosen)
            return entry.verdict;
    }
    return QString();
}

struct Run
{
    int exitCode = -1;
    QString output;
};

Run runTool(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    TestSupport::startExecutable(process, QStringLiteral(KORVELLO_MEDIUM_BIN), arguments);
    process.waitForFinished(60000);
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

QString decision(const QString &report, const QString &pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption)
        .match(report)
        .captured(1);
}

} // namespace

void TestMedium::backupPlan_data()
{
    QTest::addColumn<QStringList>("indexes");
    QTest::addColumn<bool>("blockWithFile");
    QTest::addColumn<int>("nextIndex");

    QTest::newRow("no device folder: created, index 1") << QStringList() << false << 1;
    QTest::newRow("archives 1 5 3") << QStringList{"1", "5", "3"} << false << 6;
    QTest::newRow("a file where the device folder goes: no script") << QStringList() << true << 0;
}

void TestMedium::backupPlan()
{
    QFETCH(QStringList, indexes);
    QFETCH(bool, blockWithFile);
    QFETCH(int, nextIndex);
    TestDevice device;
    for (const QString &index : indexes)
        addBackup(device, QStringLiteral("20240101000000"), index, QStringLiteral("intact"));
    if (blockWithFile)
        device.writeFile(device.medium() + QStringLiteral("/run/data"), "not a folder");

    const MediumCheck::BackupPlan plan
        = MediumCheck::planBackup(device.medium(), QLatin1String(kSnum));
    QCOMPARE(plan.nextIndex, nextIndex);
    QCOMPARE(plan.folderBlocked, blockWithFile);
    if (!blockWithFile)
        QCOMPARE(plan.expectedArchive,
                 QStringLiteral("data-A7-YYYYMMDDhhmmss-%1.tar").arg(nextIndex));
}

void TestMedium::restoreChoice_data()
{
    QTest::addColumn<QStringList>("backups"); // "stamp index kind"
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("passedOver");
    QTest::addColumn<QString>("reason");

    QTest::newRow("newest damaged: digests")
        << QStringList{"20240101000000 1 intact", "20240102000000 2 intact",
                       "20240103000000 3 bad digest"}
        << "data-A7-20240102000000-2.tar" << 3 << "digests differ";
    QTest::newRow("newest without side file")
        << QStringList{"20240101000000 1 intact", "20240102000000 2 no side file"}
        << "data-A7-20240101000000-1.tar" << 2 << "no side file";
    QTest::newRow("newest with an upper-case digest")
        << QStringList{"20240101000000 1 intact", "20240102000000 2 upper digest"}
        << "data-A7-20240101000000-1.tar" << 2 << "no lowercase digest";
    QTest::newRow("index 0 never restored")
        << QStringList{"20240101000000 1 intact", "20240102000000 x intact"}
        << "data-A7-20240101000000-1.tar" << 0 << "index 0";
    QTest::newRow("same index: the earlier time stamp wins")
        << QStringList{"20240105000000 4 intact", "20240104000000 4 intact"}
        << "data-A7-20240104000000-4.tar" << 4 << "same index";
    QTest::newRow("nothing intact")
        << QStringList{"20240101000000 1 bad digest"} << QString() << 1 << "digests differ";
}

void TestMedium::restoreChoice()
{
    QFETCH(QStringList, backups);
    QFETCH(QString, chosen);
    QFETCH(int, passedOver);
    QFETCH(QString, reason);
    TestDevice device;
    for (const QString &backup : backups) {
        const QStringList parts = backup.split(QLatin1Char(' '));
        addBackup(device, parts.at(0), parts.at(1), parts.mid(2).join(QLatin1Char(' ')));
    }

    const MediumCheck::RestorePlan plan
        = MediumCheck::planRestore(device.medium(), QLatin1String(kSnum));
    QCOMPARE(plan.chosenFileName, chosen);
    QVERIFY2(verdictOf(plan, passedOver).contains(reason), qPrintable(verdictOf(plan, passedOver)));
    // Newest first, so the archives passed over lead the report.
    QVERIFY(plan.candidates.first().candidate.index >= plan.candidates.last().candidate.index);
}

void TestMedium::upgradeDecision_data()
{
    QTest::addColumn<QStringList>("packages");
    QTest::addColumn<bool>("takenIntact");
    QTest::addColumn<QByteArray>("versionFile"); // empty: not given
    QTest::addColumn<QString>("taken");
    QTest::addColumn<bool>("verified");
    QTest::addColumn<bool>("installed");

    QTest::newRow("name order, not numbers")
        << QStringList{"update-V1.10.tar", "update-V1.9.tar"} << true << QByteArray("V1.0\n")
        << "update-V1.9.tar" << true << false;
    QTest::newRow("same version: already installed")
        << QStringList{"update-V2.tar"} << true << QByteArray("V2\nbuild 7\n") << "update-V2.tar"
        << true << true;
    QTest::newRow("no final line feed loses the last character")
        << QStringList{"update-V2.tar"} << true << QByteArray("V2") << "update-V2.tar" << true
        << false;
    QTest::newRow("checksum fails: no version compared")
        << QStringList{"update-V1.tar", "update-V2.tar"} << false << QByteArray("V2\n")
        << "update-V2.tar" << false << false;
    QTest::newRow("side file only: no package")
        << QStringList{"update-V2.tar.md5"} << true << QByteArray() << QString() << false << false;
}

void TestMedium::upgradeDecision()
{
    QFETCH(QStringList, packages);
    QFETCH(bool, takenIntact);
    QFETCH(QByteArray, versionFile);
    QFETCH(QString, taken);
    QFETCH(bool, verified);
    QFETCH(bool, installed);
    TestDevice device;
    for (const QString &name : packages) {
        if (name.endsWith(QLatin1String(".md5")))
            device.writeFile(packagePath(device, name), "d41d8cd98f00b204e9800998ecf8427e\n");
        else
            addPackage(device, name, name != taken || takenIntact);
    }
    if (!versionFile.isEmpty())
        device.writeVersionFile(versionFile);

    const MediumCheck::UpgradePlan plan
        = MediumCheck::planUpgrade(device.medium(), optionsFor(device, !versionFile.isEmpty()));
    QCOMPARE(plan.taken, taken);
    QCOMPARE(plan.check.verified, verified);
    QCOMPARE(plan.alreadyInstalled, installed);
}

void TestMedium::warnings_data()
{
    QTest::addColumn<QString>("trap");
    QTest::addColumn<QString>("warning");

    QTest::newRow("clean medium") << "none" << QString();
    QTest::newRow("two packages") << "two packages"
                                  << "takes the last in name order, update-V2.tar";
    QTest::newRow("._ file") << "._ file"
                             << "run/upgrade/._update-V1.tar: a \"._\" file";
    QTest::newRow("upper-case digest") << "upper digest"
                                       << "the digest is in upper case";
    QTest::newRow("upper-case extension") << "upper extension"
                                          << "not in lower case";
    QTest::newRow("byte-order mark") << "bom"
                                     << "byte-order mark";
    QTest::newRow("script without execute bit") << "not executable"
                                                << "run/recover_script.sh: no execute bit";
    QTest::newRow("no run folder") << "no run"
                                   << "no run/ folder";
}

void TestMedium::warnings()
{
    QFETCH(QString, trap);
    QFETCH(QString, warning);
    TestDevice device;
    if (trap != QLatin1String("no run")) {
        for (const char *script : {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"})
            device.writeScript(device.runDir() + QLatin1Char('/') + QLatin1String(script),
                               "exit 0");
        addPackage(device, QStringLiteral("update-V1.tar"));
    }
    const QString side = packagePath(device, QStringLiteral("update-V1.tar.md5"));
    const QByteArray line
        = TestSupport::md5sumLine(packagePath(device, QStringLiteral("update-V1.tar")));
    if (trap == QLatin1String("two packages"))
        addPackage(device, QStringLiteral("update-V2.tar"));
    if (trap == QLatin1String("._ file"))
        device.writeFile(packagePath(device, QStringLiteral("._update-V1.tar")), "resource fork");
    if (trap == QLatin1String("upper digest"))
        device.writeFile(side, line.toUpper());
    if (trap == QLatin1String("upper extension"))
        QVERIFY(QFile::rename(side, packagePath(device, QStringLiteral("update-V1.tar.MD5"))));
    if (trap == QLatin1String("bom"))
        device.writeFile(side, "\xEF\xBB\xBF" + line);
    if (trap == QLatin1String("not executable"))
        QFile::setPermissions(device.runDir() + QStringLiteral("/recover_script.sh"),
                              QFile::ReadOwner | QFile::WriteOwner);

    const QStringList found = MediumCheck::inspect(optionsFor(device, false)).warnings;
    if (warning.isEmpty()) {
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
        return;
    }
    QCOMPARE(found.filter(warning).size(), 1);
}

void TestMedium::fatLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("tooLarge");

    const qint64 limit = MediumFileSystem::kFatFileLimit;
    QTest::newRow("just under 4 GiB on vfat") << limit - 1 << "vfat" << false;
    QTest::newRow("4 GiB on vfat") << limit << "vfat" << true;
    QTest::newRow("4 GiB on exfat") << limit << "exfat" << false;
}

void TestMedium::fatLimit()
{
    QFETCH(qint64, size);
    QFETCH(QString, type);
    QFETCH(bool, tooLarge);
    QCOMPARE(MediumFileSystem::tooLargeForFat(size, type), tooLarge);
}

// The package must pass the real upgrade script, not only the tool's check.
void TestMedium::packUpgradeInstallsByTheReferenceScript()
{
    TestDevice device;
    QTemporaryDir payload;
    device.writeFile(payload.path() + QStringLiteral("/usr/bin/app"), "new app\n");
    device.writeVersionFile("V1\n");
    const MediumLayout::Result packed
        = MediumLayout::packUpgrade(QStringLiteral("V2"), payload.path(), device.medium());
    QVERIFY2(packed.ok, qPrintable(packed.error));
    const QString package = packagePath(device, QStringLiteral("update-V2.tar"));
    QCOMPARE(packed.written, QStringList({package, package + QStringLiteral(".md5")}));
    QCOMPARE(
        TestSupport::md5sumLine(package),
        MediumLayout::sideFileLine(TestSupport::md5Of(package), QStringLiteral("update-V2.tar")));
    QVERIFY(!QFile::exists(package + QStringLiteral(".part")));

    const QString script
        = QStringLiteral(KORVELLO_SOURCE_DIR) + QStringLiteral("/medium/upgrade_script.sh");
    QProcess upgrade;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KORVELLO_SIM_ROOT"), device.root());
    upgrade.setProcessEnvironment(environment);
    upgrade.start(QStringLiteral("sh"),
                  {script, QString(), QStringLiteral("update-V2.tar"), QStringLiteral("0"),
                   device.medium() + QStringLiteral("/run/upgrade")});
    QVERIFY(upgrade.waitForFinished(60000));
    QVERIFY2(upgrade.exitCode() == 0, upgrade.readAllStandardError().constData());
    QFile app(device.root() + QStringLiteral("/usr/bin/app"));
    QVERIFY(app.open(QIODevice::ReadOnly));
    QCOMPARE(app.readAll(), QByteArray("new app\n"));

    const MediumCheck::UpgradePlan plan
        = MediumCheck::planUpgrade(device.medium(), optionsFor(device, true));
    QVERIFY(plan.alreadyInstalled);
}

void TestMedium::packUpgradeRefuses_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("carriesVersionFile");

    QTest::newRow("no V: the device would not list it") << "2.0" << false;
    QTest::newRow("a folder in the version") << "V2/x" << false;
    QTest::newRow("payload carries etc/version.cfg") << "V2" << true;
}

void TestMedium::packUpgradeRefuses()
{
    QFETCH(QString, version);
    QFETCH(bool, carriesVersionFile);
    TestDevice device;
    QTemporaryDir payload;
    device.writeFile(payload.path() + QStringLiteral("/usr/bin/app"), "app\n");
    if (carriesVersionFile)
        device.writeFile(payload.path() + QStringLiteral("/etc/version.cfg"), "V2\n");
    const MediumLayout::Result packed
        = MediumLayout::packUpgrade(version, payload.path(), device.medium());
    QVERIFY(!packed.ok);
    QVERIFY(!packed.error.isEmpty());
    QVERIFY(!QDir(device.medium() + QStringLiteral("/run/upgrade")).exists());
}

void TestMedium::prepareCopiesTheBuiltInScripts()
{
    QTemporaryDir medium;
    const Run run = runTool({QStringLiteral("prepare"), medium.path()});
    QCOMPARE(run.exitCode, 0);
    const QDir source(QStringLiteral(KORVELLO_SOURCE_DIR) + QStringLiteral("/medium"));
    const QStringList scripts = source.entryList({QStringLiteral("*.sh")}, QDir::Files);
    QVERIFY(scripts.contains(QStringLiteral("backup_script.sh")));
    for (const QString &name : scripts) {
        const QString copy = medium.path() + QStringLiteral("/run/") + name;
        QVERIFY2(QFileInfo(copy).isExecutable(), qPrintable(copy));
        QFile original(source.filePath(name));
        QFile copied(copy);
        QVERIFY(original.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly));
        QCOMPARE(copied.readAll(), original.readAll());
    }
}

void TestMedium::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    QTest::newRow("no command") << QStringList() << 2 << "korvello-medium COMMAND";
    QTest::newRow("unknown command") << QStringList{"format"} << 2 << "unknown command format";
    QTest::newRow("help check") << QStringList{"help", "check"} << 0 << "--version-file F";
    QTest::newRow("check --help") << QStringList{"check", "--help"} << 0 << "--version-file F";
    QTest::newRow("unknown option")
        << QStringList{"check", "/", "--snm", "A7"} << 2 << "unknown option --snm";
    QTest::newRow("option without value")
        << QStringList{"check", "/", "--snum"} << 2 << "--snum needs a value";
    QTest::newRow("missing medium") << QStringList{"check", "/nonexistent-medium"} << 3
                                    << "/nonexistent-medium: no such folder";
    QTest::newRow("missing version file")
        << QStringList{"check", "/", "--version-file", "/nonexistent.cfg"} << 3 << "no such file";
    QTest::newRow("pack without version") << QStringList{"pack-upgrade", "--payload", "/", "/"} << 2
                                          << "--version and --payload are required";
}

void TestMedium::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const Run run = runTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.output.contains(says), qPrintable(run.output));
}

void TestMedium::predictionMatchesSimulator_data()
{
    QTest::addColumn<QByteArray>("deviceVersion");
    QTest::addColumn<QString>("installed");

    QTest::newRow("newer package") << QByteArray("V1.0\n") << "no";
    QTest::newRow("package already installed") << QByteArray("V1.9\n") << "yes";
}

// The tool's prediction, then what the simulated device does on the same
// medium, job by job.
void TestMedium::predictionMatchesSimulator()
{
    QFETCH(QByteArray, deviceVersion);
    QFETCH(QString, installed);
    TestDevice device;
    addBackup(device, QStringLiteral("20240101000000"), QStringLiteral("1"),
              QStringLiteral("intact"));
    addBackup(device, QStringLiteral("20240102000000"), QStringLiteral("2"),
              QStringLiteral("intact"));
    addBackup(device, QStringLiteral("20240103000000"), QStringLiteral("3"),
              QStringLiteral("bad digest"));
    addPackage(device, QStringLiteral("update-V1.10.tar"));
    addPackage(device, QStringLiteral("update-V1.9.tar"));
    device.writeVersionFile(deviceVersion);
    for (const char *script : {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"})
        device.writeRecordingScript(QLatin1String(script));

    const Run check
        = runTool({QStringLiteral("check"), device.medium(), QStringLiteral("--snum"),
                   QLatin1String(kSnum), QStringLiteral("--version-file"), device.versionFile()});
    QCOMPARE(check.exitCode, 0);
    const QString report = check.output;
    const QString index = decision(report, QStringLiteral("^  next index: (\\d+)$"));
    const QString restores
        = decision(report, QStringLiteral("^  restores: (\\S+) \\(index \\d+\\)$"));
    const QString restoresIndex
        = decision(report, QStringLiteral("^  restores: \\S+ \\(index (\\d+)\\)$"));
    const QString takes = decision(report, QStringLiteral("^  takes: (\\S+)$"));
    const QString version = decision(report, QStringLiteral("^  package version: \"(.*)\"$"));
    QCOMPARE(decision(report, QStringLiteral("^  already installed: (\\w+)$")), installed);
    QVERIFY2(!index.isEmpty() && !restores.isEmpty() && !takes.isEmpty(), qPrintable(report));

    QByteArray upgradeLog;
    for (int control = 1; control <= 3; ++control) {
        QProcess simulator;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("snum"), QLatin1String(kSnum));
        simulator.setProcessEnvironment(environment);
        simulator.setProcessChannelMode(QProcess::MergedChannels);
        TestSupport::startExecutable(simulator, QStringLiteral(KORVELLO_SIM_BIN),
                                     {QStringLiteral("--root"), device.root(),
                                      QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                      QStringLiteral("-c"), QString::number(control)});
        QByteArray log;
        // A device that already runs the package waits for the medium to go.
        if (control == 3 && installed == QLatin1String("yes")) {
            QTRY_VERIFY_WITH_TIMEOUT(
                (log += simulator.readAll()).contains("remove upgrade device first"), 60000);
            QVERIFY(QDir(device.medium() + QStringLiteral("/run/upgrade")).removeRecursively());
        }
        QVERIFY(simulator.waitForFinished(60000));
        log += simulator.readAll();
        QVERIFY2(log.contains("reboots now"), log.constData());
        upgradeLog = log;
    }

    QCOMPARE(device.recordedArguments(QStringLiteral("backup_script.sh")).value(2), index);
    const QStringList recover = device.recordedArguments(QStringLiteral("recover_script.sh"));
    QCOMPARE(recover.value(1), restores);
    QCOMPARE(recover.value(2), restoresIndex);
    const bool upgradeRan = device.scriptRan(QStringLiteral("upgrade_script.sh"));
    QCOMPARE(upgradeRan, installed == QLatin1String("no"));
    if (upgradeRan)
        QCOMPARE(device.recordedArguments(QStringLiteral("upgrade_script.sh")).value(1), takes);
    const QByteArray latestNote
        = QStringLiteral("the screen shows: 已經是最新版本: %1\n").arg(version).toUtf8();
    QCOMPARE(upgradeLog.contains(latestNote), installed == QLatin1String("yes"));
}

KORVELLO_TEST_MAIN(TestMedium)
#include "tst_medium.moc"
