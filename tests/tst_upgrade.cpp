#include "dataupgradeview.h"
#include "testdevice.h"
#include "upgradecatalog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const char kScript[] = "upgrade_script.sh";
const QString kBusy = QStringLiteral("升級包檢測中，請稍後...");
const QString kNamed = QStringLiteral("升級包名稱 :");
const QString kUpgrading = QStringLiteral("升级中...");
const QString kNoPackage = QStringLiteral("升級包不存在");
const QString kBadChecksum = QStringLiteral("升級包校驗錯誤");
const QString kFirstTick = QStringLiteral("5秒後自動重啟");
const QString kPullMedium = QStringLiteral("請拔出升級工具設備...");

QString packageFolder(const TestDevice &device)
{
    return device.runDir() + QStringLiteral("/upgrade");
}

// A real tar archive whose content tells packages apart, with its side file
// by md5sum unless told otherwise.
QString addPackage(const TestDevice &device, const QString &name, bool withSideFile = true)
{
    const QString path = packageFolder(device) + QLatin1Char('/') + name;
    TestSupport::makeTar(path, name.toUtf8());
    if (withSideFile)
        TestSupport::writeSideFile(path, path + QStringLiteral(".md5"));
    return path;
}

// Entries of the package folder: "pkg NAME" a package with its side file,
// "nosum NAME" one without, "wrongsum NAME" one whose side file holds
// another digest, "uppersum NAME" one whose digest is in upper case,
// "side NAME" a lone side file, "dir NAME" a directory, "link NAME" a
// symbolic link (with its own side file) to a package outside the folder.
void fillFolder(const TestDevice &device, const QStringList &entries)
{
    QDir().mkpath(packageFolder(device));
    for (const QString &entry : entries) {
        const QString kind = entry.section(QLatin1Char(' '), 0, 0);
        const QString name = entry.section(QLatin1Char(' '), 1);
        const QString path = packageFolder(device) + QLatin1Char('/') + name;
        if (kind == QLatin1String("pkg")) {
            addPackage(device, name);
        } else if (kind == QLatin1String("nosum")) {
            addPackage(device, name, false);
        } else if (kind == QLatin1String("wrongsum")) {
            addPackage(device, name);
            device.writeFile(path + QStringLiteral(".md5"),
                             "0123456789abcdef0123456789abcdef  " + name.toUtf8() + '\n');
        } else if (kind == QLatin1String("uppersum")) {
            addPackage(device, name);
            device.writeFile(path + QStringLiteral(".md5"),
                             TestSupport::md5sumLine(path).toUpper());
        } else if (kind == QLatin1String("side")) {
            device.writeFile(path, "d41d8cd98f00b204e9800998ecf8427e  x\n");
        } else if (kind == QLatin1String("dir")) {
            QDir().mkpath(path);
        } else if (kind == QLatin1String("link")) {
            const QString target = device.root() + QStringLiteral("/elsewhere.tar");
            TestSupport::makeTar(target, "elsewhere");
            QFile::link(target, path);
            TestSupport::writeSideFile(target, path + QStringLiteral(".md5"));
        }
    }
}

// A script that copies the given bytes over the simulated version file,
// as an installing upgrade script would.
void writeInstallingScript(const TestDevice &device, int exitCode, const QByteArray &newVersion)
{
    QString body;
    if (!newVersion.isNull()) {
        const QString source = device.writeFile(device.root() + QStringLiteral("/new-version"),
                                                newVersion);
        body = QStringLiteral("mkdir -p '%1' && cp '%2' '%3'")
                   .arg(QFileInfo(device.versionFile()).absolutePath(), source,
                        device.versionFile());
    }
    device.writeRecordingScript(QLatin1String(kScript), exitCode, body);
}

// Executable, but no program the system can start: no "#!" line, no binary.
void makeUnstartable(const TestDevice &device, const QString &path)
{
    device.writeFile(path, QByteArrayLiteral("\x7f" "ELF not really"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QLabel *label(DataUpgradeView &view, const char *name)
{
    return view.findChild<QLabel *>(QLatin1String(name));
}

void start(DataUpgradeView &view)
{
    view.findChild<QPushButton *>(QStringLiteral("pb_upgraded"))->click();
}

QString note(DataUpgradeView &view)
{
    return label(view, "label_note")->text();
}

QString renote(DataUpgradeView &view)
{
    return label(view, "label_renote")->text();
}

} // namespace

class TestUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void extractVersion_data();
    void extractVersion();
    void packageSearch_data();
    void packageSearch();
    void unreadablePackageIsRefused();
    void versionComparison_data();
    void versionComparison();
    void versionFileReadAtEveryCall();
    void outcome_data();
    void outcome();
    void stepsFollowTheirDelays();
    void alreadyLatestWaitsForRemoval_data();
    void alreadyLatestWaitsForRemoval();
    void installedUpgradeEndsInReboot();
};

void TestUpgrade::init()
{
    TestSupport::resetRebootCount();
    qputenv("snum", "SN7");
}

void TestUpgrade::cleanup()
{
    qunsetenv("snum");
}

void TestUpgrade::extractVersion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "update-V1.2.3.tar" << "V1.2.3";
    QTest::newRow("bare V") << "update-V.tar" << "V";
    QTest::newRow("last .tar") << "update-V1.tar.tar" << "V1.tar";
    QTest::newRow("first update-") << "update-V1-update-V2.tar" << "V1-update-V2";
    QTest::newRow("upper case") << "UPDATE-V3.TAR" << "";
    QTest::newRow("nothing between") << "update-.tar" << "";
    QTest::newRow("no .tar") << "update-V2" << "";
    QTest::newRow(".tar before update-") << "a.tar-update-V2" << "";
}

void TestUpgrade::extractVersion()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    DataUpgradeView view;
    QCOMPARE(view.extractVersion(name), version);
    QCOMPARE(UpgradeCatalog::extractVersion(name), version);
}

void TestUpgrade::packageSearch_data()
{
    QTest::addColumn<QStringList>("entries"); // null: no package folder
    QTest::addColumn<QString>("expectedNote");
    QTest::addColumn<int>("listed");          // " updateFils name " lines

    QTest::newRow("no package folder") << QStringList() << kNoPackage << 0;
    QTest::newRow("empty folder") << QStringList{QString()} << kNoPackage << 0;
    QTest::newRow("only a side file")
        << QStringList{"side update-V1.2.tar.md5"} << kNoPackage << 0;
    QTest::newRow("names that do not match")
        << QStringList{"pkg update-1.0.tar", "pkg update-V1.0.tar.gz", "pkg xupdate-V1.0.tar"}
        << kNoPackage << 0;
    QTest::newRow("name order, not version order")
        << QStringList{"pkg update-V1.9.tar", "pkg update-V1.10.tar"}
        << kNamed + "update-V1.9.tar" << 2;
    QTest::newRow("newest name last")
        << QStringList{"pkg update-V2.0.tar", "pkg update-V1.9.tar"}
        << kNamed + "update-V2.0.tar" << 2;
    QTest::newRow("upper-case name listed")
        << QStringList{"pkg UPDATE-V3.TAR", "pkg update-V1.tar"} << kNamed + "UPDATE-V3.TAR" << 2;
    QTest::newRow("directory ignored")
        << QStringList{"pkg update-V1.tar", "dir update-V3.tar"} << kNamed + "update-V1.tar" << 1;
    QTest::newRow("symbolic link ignored")
        << QStringList{"pkg update-V1.tar", "link update-V3.tar"} << kNamed + "update-V1.tar" << 1;
    QTest::newRow("only a directory") << QStringList{"dir update-V3.tar"} << kNoPackage << 0;
    QTest::newRow("last one wrong, earlier one right")
        << QStringList{"pkg update-V1.tar", "wrongsum update-V2.tar"} << kBadChecksum << 2;
    QTest::newRow("upper-case digest")
        << QStringList{"uppersum update-V2.tar"} << kBadChecksum << 1;
    QTest::newRow("no side file") << QStringList{"nosum update-V2.tar"} << kBadChecksum << 1;
}

// Through the whole job up to the package note or the countdown: a failed
// search starts the countdown at once and never reaches the script.
void TestUpgrade::packageSearch()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, expectedNote);
    QFETCH(int, listed);
    TestDevice device;
    if (!entries.isEmpty())
        fillFolder(device, entries);
    device.writeRecordingScript(QLatin1String(kScript));
    TestSupport::LogCapture log;
    DataUpgradeView view;
    start(view);
    QTRY_VERIFY_WITH_TIMEOUT(note(view) != kBusy, 5000);

    QCOMPARE(note(view), expectedNote);
    QCOMPARE(log.count(QStringLiteral(" updateFils name ")), listed);
    QCOMPARE(log.contains(QStringLiteral("Error Path not exists:")), entries.isEmpty());
    QCOMPARE(log.contains(QStringLiteral("Error  calMd5 ")), expectedNote == kBadChecksum);
    if (expectedNote.startsWith(kNamed)) {
        QVERIFY(renote(view).isEmpty());
        return;
    }
    QCOMPARE(renote(view), kFirstTick);
    QVERIFY(!device.scriptRan(QLatin1String(kScript)));
}

// A package that cannot be read and a side file that yields no digest give
// two empty digests: they must not count as a match.
void TestUpgrade::unreadablePackageIsRefused()
{
    TestDevice device;
    const QString path = addPackage(device, QStringLiteral("update-V2.tar"), false);
    QFile::setPermissions(path, QFileDevice::Permissions());
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("permissions do not keep this user from reading the package");
    DataUpgradeView view;
    QVERIFY(view.findUpgradeIndex(packageFolder(device)).isEmpty());
    QCOMPARE(note(view), kBadChecksum);
    QVERIFY(!UpgradeCatalog::checkPackage(packageFolder(device), QStringLiteral("update-V2.tar"))
                 .verified);
}

void TestUpgrade::versionComparison_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QByteArray>("versionFile"); // null: no version file
    QTest::addColumn<QString>("result");
    const QString v2 = QStringLiteral("update-V2.0.tar");
    QTest::newRow("same") << v2 << QByteArray("V2.0\n") << "V2.0";
    QTest::newRow("only the first line") << v2 << QByteArray("V2.0\nV1.0\n") << "V2.0";
    QTest::newRow("no final line feed") << v2 << QByteArray("V2.0") << "";
    QTest::newRow("no final line feed, last byte spare") << v2 << QByteArray("V2.0x") << "V2.0";
    QTest::newRow("CR LF") << v2 << QByteArray("V2.0\r\n") << "";
    QTest::newRow("leading blank") << v2 << QByteArray(" V2.0\n") << "";
    QTest::newRow("other case") << v2 << QByteArray("v2.0\n") << "";
    QTest::newRow("device newer") << v2 << QByteArray("V3.0\n") << "";
    QTest::newRow("no version file") << v2 << QByteArray() << "";
    QTest::newRow("empty version file") << v2 << QByteArray("") << "";
    QTest::newRow("both empty") << "UPDATE-V3.TAR" << QByteArray("\n") << "";
    QTest::newRow("upper-case package") << "UPDATE-V3.TAR" << QByteArray("V3\n") << "";
}

void TestUpgrade::versionComparison()
{
    QFETCH(QString, package);
    QFETCH(QByteArray, versionFile);
    QFETCH(QString, result);
    TestDevice device;
    addPackage(device, package);
    if (!versionFile.isNull())
        device.writeVersionFile(versionFile);
    DataUpgradeView view;
    view.checkUpgradeFiles();
    QCOMPARE(view.checkDeviceVerAndUpgradeFileVer(), result);
}

void TestUpgrade::versionFileReadAtEveryCall()
{
    TestDevice device;
    addPackage(device, QStringLiteral("update-V2.tar"));
    DataUpgradeView view;
    view.checkUpgradeFiles();
    QCOMPARE(view.checkDeviceVerAndUpgradeFileVer(), QString());
    device.writeVersionFile("V2\n");
    QCOMPARE(view.checkDeviceVerAndUpgradeFileVer(), QStringLiteral("V2"));
}

// Every outcome after a verified package, with the note the job ends on.
void TestUpgrade::outcome_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QByteArray>("deviceVersion"); // null: no version file
    QTest::addColumn<int>("script");               // exit code; -1 missing, -2 not
                                                   // executable, -3 cannot start
    QTest::addColumn<QByteArray>("leftVersion");   // what the script writes; null: nothing
    QTest::addColumn<QString>("expectedNote");
    const QString v2 = QStringLiteral("update-V2.0.tar");
    const QByteArray none;
    const QString success = QStringLiteral("升級成功");
    const QString unchanged = QStringLiteral("升級失敗,軟體版本未更新");
    const QString failed = QStringLiteral("升級失敗");

    QTest::newRow("already on the version")
        << v2 << QByteArray("V2.0\n") << 0 << none << "已經是最新版本: V2.0";
    QTest::newRow("installed") << v2 << QByteArray("V1.0\n") << 0 << QByteArray("V2.0\n")
                               << success;
    QTest::newRow("installed on a device without version file")
        << v2 << none << 0 << QByteArray("V2.0\nbuild 7\n") << success;
    QTest::newRow("exit 0, version not rewritten") << v2 << QByteArray("V1.0\n") << 0 << none
                                                   << unchanged;
    QTest::newRow("exit 0, written without final line feed")
        << v2 << QByteArray("V1.0\n") << 0 << QByteArray("V2.0") << unchanged;
    QTest::newRow("device on the version with CR LF")
        << v2 << QByteArray("V2.0\r\n") << 0 << QByteArray("V2.0\n") << success;
    QTest::newRow("upper-case package never confirmed")
        << "UPDATE-V3.TAR" << QByteArray("V3\n") << 0 << QByteArray("V3\n") << unchanged;
    QTest::newRow("exit 1") << v2 << QByteArray("V1.0\n") << 1 << QByteArray("V2.0\n") << failed;
    QTest::newRow("script missing") << v2 << QByteArray("V1.0\n") << -1 << none
                                    << "備份腳本不存在";
    QTest::newRow("script not executable") << v2 << QByteArray("V1.0\n") << -2 << none
                                           << "備份腳本不可運行";
    QTest::newRow("script cannot start") << v2 << QByteArray("V1.0\n") << -3 << none
                                         << "備份腳本運行失敗";
}

void TestUpgrade::outcome()
{
    QFETCH(QString, package);
    QFETCH(QByteArray, deviceVersion);
    QFETCH(int, script);
    QFETCH(QByteArray, leftVersion);
    QFETCH(QString, expectedNote);
    TestDevice device;
    addPackage(device, package);
    if (!deviceVersion.isNull())
        device.writeVersionFile(deviceVersion);
    const QString scriptPath = device.runDir() + QLatin1Char('/') + QLatin1String(kScript);
    if (script >= 0)
        writeInstallingScript(device, script, leftVersion);
    else if (script == -2)
        device.writeFile(scriptPath, "#!/bin/sh\nexit 0\n");
    else if (script == -3)
        makeUnstartable(device, scriptPath);

    // The timed chain is covered below; here the steps are called in turn.
    // No event loop runs before the screen goes, so the timer doUpgrade()
    // arms never fires.
    DataUpgradeView view;
    view.doUpgrade();
    QVERIFY(note(view).startsWith(kNamed));
    view.slot_startSHOut();
    QCOMPARE(note(view), kUpgrading);
    view.slot_toRunSHOut();
    QCOMPARE(note(view), expectedNote);
    QCOMPARE(renote(view), kFirstTick);

    const bool shouldRun = script >= 0 && !expectedNote.startsWith(QStringLiteral("已經"));
    QCOMPARE(device.scriptRan(QLatin1String(kScript)), shouldRun);
    if (shouldRun) {
        const QStringList expected{QStringLiteral("SN7"), package, QStringLiteral("0"),
                                   packageFolder(device)};
        QCOMPARE(device.recordedArguments(QLatin1String(kScript)), expected);
    }
}

// Load step 500 ms, package note for 1200 ms, "upgrading" for 500 ms: each
// counted from the step before, so the sums hold from the click.
void TestUpgrade::stepsFollowTheirDelays()
{
    TestDevice device;
    addPackage(device, QStringLiteral("update-V2.0.tar"));
    writeInstallingScript(device, 0, "V2.0\n");
    DataUpgradeView view;
    QElapsedTimer clock;
    clock.start();
    start(view);
    QTRY_VERIFY_WITH_TIMEOUT(note(view).startsWith(kNamed), 5000);
    const qint64 named = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(note(view), kUpgrading, 5000);
    const qint64 upgrading = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(device.scriptRan(QLatin1String(kScript)), 5000);
    const qint64 ran = clock.elapsed();

    QVERIFY2(named >= 500 && named < 2500, qPrintable(QString::number(named)));
    QVERIFY2(upgrading >= 1700 && upgrading < 4500, qPrintable(QString::number(upgrading)));
    QVERIFY2(ran >= 2200 && ran < 6000, qPrintable(QString::number(ran)));
}

void TestUpgrade::alreadyLatestWaitsForRemoval_data()
{
    QTest::addColumn<bool>("removeDuringCountdown");
    QTest::newRow("medium still inserted") << false;
    QTest::newRow("medium pulled during the countdown") << true;
}

// Rebooting with the package still inserted would offer the same upgrade
// again, so the screen holds until the package folder is gone.
void TestUpgrade::alreadyLatestWaitsForRemoval()
{
    QFETCH(bool, removeDuringCountdown);
    TestDevice device;
    addPackage(device, QStringLiteral("update-V2.0.tar"));
    device.writeVersionFile("V2.0\n");
    device.writeRecordingScript(QLatin1String(kScript));
    TestSupport::LogCapture log;
    DataUpgradeView view;
    start(view);
    QTRY_COMPARE_WITH_TIMEOUT(note(view), QStringLiteral("已經是最新版本: V2.0"), 10000);
    QCOMPARE(renote(view), kFirstTick);

    if (!removeDuringCountdown) {
        const QString waiting = QStringLiteral("remove upgrade device first");
        QTRY_VERIFY_WITH_TIMEOUT(log.count(waiting) >= 3, 15000);
        QCOMPARE(renote(view), kPullMedium);
        QCOMPARE(TestSupport::rebootCount(), 0);
    }
    QVERIFY(QDir(packageFolder(device)).removeRecursively());
    QElapsedTimer sinceRemoval;
    sinceRemoval.start();
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 10000);
    const qint64 waited = sinceRemoval.elapsed();
    if (!removeDuringCountdown)
        QVERIFY2(waited < 2500, qPrintable(QString::number(waited)));
    QCOMPARE(renote(view), QStringLiteral("等待設備重啟"));
    QCOMPARE(log.contains(QStringLiteral("remove upgrade device first")), !removeDuringCountdown);
    QVERIFY(!device.scriptRan(QLatin1String(kScript)));
}

// After a script ran the reboot does not wait for the medium.
void TestUpgrade::installedUpgradeEndsInReboot()
{
    TestDevice device;
    addPackage(device, QStringLiteral("update-V2.0.tar"));
    device.writeVersionFile("V1.0\n");
    writeInstallingScript(device, 0, "V2.0\n");
    DataUpgradeView view;
    start(view);
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 15000);
    QCOMPARE(note(view), QStringLiteral("升級成功"));
    QCOMPARE(renote(view), QStringLiteral("等待設備重啟，請拔出升級工具設備"));
    QVERIFY(QFileInfo::exists(packageFolder(device)));
}

KORVELLO_TEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
