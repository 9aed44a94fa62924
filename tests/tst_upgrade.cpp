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

const QString kScript = QStringLiteral("upgrade_script.sh");
const QString kNamed = QStringLiteral("升級包名稱 :");
const QString kNoPackage = QStringLiteral("升級包不存在");
const QString kBadChecksum = QStringLiteral("升級包校驗錯誤");
const QString kUnchanged = QStringLiteral("升級失敗,軟體版本未更新");
const QString kFirstTick = QStringLiteral("5秒後自動重啟");

// A simulated device with a package folder and an upgrade script on its medium.
class UpgradeDevice : public TestDevice
{
public:
    QString folder() const { return runDir() + QStringLiteral("/upgrade"); }

    // "NAME": a real tar archive with its side file by md5sum. A word before
    // the name changes it: "wrongsum" a side file with another digest,
    // "uppersum" the digest in upper case, "side" the side file alone, "dir" a
    // directory, "link" a symbolic link to an intact package outside the folder.
    void add(const QString &entry) const
    {
        const QString kind = entry.contains(QLatin1Char(' ')) ? entry.section(' ', 0, 0) : "";
        const QString path = folder() + QLatin1Char('/') + entry.section(' ', -1);
        QDir().mkpath(kind == "dir" ? path : folder());
        if (kind == "dir")
            return;
        const QString data = kind == "link" ? root() + "/elsewhere.tar" : path;
        TestSupport::makeTar(data, path.toUtf8());
        TestSupport::writeSideFile(data, path + ".md5");
        if (kind == "link")
            QFile::link(data, path);
        else if (kind == "side")
            QFile::remove(path);
        else if (kind == "wrongsum")
            writeFile(path + ".md5", "0123456789abcdef0123456789abcdef  x\n");
        else if (kind == "uppersum")
            writeFile(path + ".md5", TestSupport::md5sumLine(path).toUpper());
    }

    // An upgrade script that records its arguments and, unless `version` is
    // null, writes it over the version file as an installing one would.
    void writeScript(int exitCode, const QString &version) const
    {
        const QString write = QStringLiteral("printf '%s' '%1' > '%2'").arg(version, versionFile());
        writeRecordingScript(kScript, exitCode, version.isNull() ? QString() : write);
    }
};

QString text(const QWidget &view, const char *label)
{
    return view.findChild<QLabel *>(QLatin1String(label))->text();
}

} // namespace

class TestUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void extractVersion_data();
    void extractVersion();
    void packageChoice_data();
    void packageChoice();
    void emptyDigestsNeverMatch();
    void outcome_data();
    void outcome();
    void installedUpgradeEndsInReboot();
    void alreadyLatestWaitsForRemoval();
};

void TestUpgrade::init()
{
    TestSupport::resetRebootCount();
    qputenv("snum", "SN7");
}

void TestUpgrade::extractVersion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "update-V1.2.3.tar" << "V1.2.3";
    QTest::newRow("last .tar") << "update-V1.tar.tar" << "V1.tar";
    QTest::newRow("first update-") << "update-V1-update-V2.tar" << "V1-update-V2";
    QTest::newRow("upper case") << "UPDATE-V3.TAR" << "";
    QTest::newRow("no .tar") << "update-V2" << "";
    QTest::newRow(".tar before update-") << "a.tar-update-V2" << "";
}

void TestUpgrade::extractVersion()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    QCOMPARE(DataUpgradeView().extractVersion(name), version);
}

void TestUpgrade::packageChoice_data()
{
    QTest::addColumn<QStringList>("entries"); // none: no package folder
    QTest::addColumn<QString>("expectedNote");
    QTest::newRow("no package folder") << QStringList() << kNoPackage;
    QTest::newRow("only a side file") << QStringList{"side update-V1.2.tar"} << kNoPackage;
    QTest::newRow("names that do not match as a whole")
        << QStringList{"update-1.0.tar", "xupdate-V1.0.tar", "update-V1.0.tar.gz"} << kNoPackage;
    QTest::newRow("name order, not version order")
        << QStringList{"update-V1.10.tar", "update-V1.9.tar"} << kNamed + "update-V1.9.tar";
    QTest::newRow("upper-case name listed")
        << QStringList{"UPDATE-V3.TAR", "update-V1.tar"} << kNamed + "UPDATE-V3.TAR";
    QTest::newRow("directory ignored")
        << QStringList{"update-V1.tar", "dir update-V3.tar"} << kNamed + "update-V1.tar";
    QTest::newRow("symbolic link ignored")
        << QStringList{"update-V1.tar", "link update-V3.tar"} << kNamed + "update-V1.tar";
    QTest::newRow("last one wrong, earlier one right")
        << QStringList{"update-V1.tar", "wrongsum update-V2.tar"} << kBadChecksum;
    QTest::newRow("upper-case digest") << QStringList{"uppersum update-V2.tar"} << kBadChecksum;
}

// A failed search starts the countdown at once; a verified package is named
// and the job goes on.
void TestUpgrade::packageChoice()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, expectedNote);
    UpgradeDevice device;
    for (const QString &entry : entries)
        device.add(entry);
    DataUpgradeView view;
    view.doUpgrade();
    QCOMPARE(text(view, "label_note"), expectedNote);
    QCOMPARE(text(view, "label_renote"), expectedNote.startsWith(kNamed) ? "" : kFirstTick);
}

// An unreadable package and a side file without a digest give two empty
// digests, which must not pass. Root reads whatever the permissions say, so
// the package is simply missing here.
void TestUpgrade::emptyDigestsNeverMatch()
{
    UpgradeDevice device;
    QVERIFY(!UpgradeCatalog::checkPackage(device.folder(), "update-V2.tar").verified());
}

// Every outcome after a verified package, with the note the job ends on. The
// device's version counts only when it equals the package's exactly.
void TestUpgrade::outcome_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("deviceVersion"); // the version file's bytes
    QTest::addColumn<int>("exitCode");          // -1: no script
    QTest::addColumn<QString>("written");       // by the script; null: nothing
    QTest::addColumn<QString>("expectedNote");
    const QString v2 = QStringLiteral("update-V2.0.tar");
    const QString none;
    QTest::newRow("already on the version") << v2 << "V2.0\n" << 0 << none
                                            << "已經是最新版本: V2.0";
    QTest::newRow("installed") << v2 << "V1.0\n" << 0 << "V2.0\n" << "升級成功";
    QTest::newRow("device newer, no ordering") << v2 << "V3.0\n" << 0 << "V2.0\n" << "升級成功";
    QTest::newRow("version not rewritten") << v2 << "V1.0\n" << 0 << none << kUnchanged;
    QTest::newRow("exit 1") << v2 << "V1.0\n" << 1 << "V2.0\n" << "升級失敗";
    QTest::newRow("script missing") << v2 << "V1.0\n" << -1 << none << "備份腳本不存在";
    QTest::newRow("no final line feed") << v2 << "V2.0" << 0 << none << kUnchanged;
    QTest::newRow("CR LF") << v2 << "V2.0\r\n" << 0 << none << kUnchanged;
    QTest::newRow("blank") << v2 << "V2.0 \n" << 0 << none << kUnchanged;
    QTest::newRow("other case") << v2 << "v2.0\n" << 0 << none << kUnchanged;
    QTest::newRow("UPDATE-V3.TAR, empty version")
        << "UPDATE-V3.TAR" << "\n" << 0 << "\n" << kUnchanged;
}

void TestUpgrade::outcome()
{
    QFETCH(QString, package);
    QFETCH(QString, deviceVersion);
    QFETCH(int, exitCode);
    QFETCH(QString, written);
    QFETCH(QString, expectedNote);
    UpgradeDevice device;
    device.add(package);
    device.writeVersionFile(deviceVersion.toUtf8());
    if (exitCode >= 0)
        device.writeScript(exitCode, written);

    // The steps are called in turn; no event loop runs while the screen
    // lives, so the timers they arm never fire.
    DataUpgradeView view;
    view.doUpgrade();
    view.slot_startSHOut();
    view.slot_toRunSHOut();
    QCOMPARE(text(view, "label_note"), expectedNote);
    QCOMPARE(text(view, "label_renote"), kFirstTick);
    const bool ran = exitCode >= 0 && !expectedNote.startsWith(QStringLiteral("已經"));
    QCOMPARE(device.scriptRan(kScript), ran);
}

// From the click: load step 500 ms, package name for 1200 ms, "upgrading"
// for 500 ms, then the script. After a script ran the reboot does not wait
// for the medium.
void TestUpgrade::installedUpgradeEndsInReboot()
{
    UpgradeDevice device;
    device.add(QStringLiteral("update-V2.0.tar"));
    device.writeVersionFile("V1.0\n");
    device.writeScript(0, "V2.0\n");
    DataUpgradeView view;
    QElapsedTimer clock;
    clock.start();
    view.findChild<QPushButton *>(QStringLiteral("pb_upgraded"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(view, "label_note"), kNamed + "update-V2.0.tar", 5000);
    const qint64 named = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(text(view, "label_note"), QStringLiteral("升级中..."), 5000);
    const qint64 upgrading = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(text(view, "label_note"), QStringLiteral("升級成功"), 5000);
    const qint64 done = clock.elapsed();
    QVERIFY2(named >= 500 && named < 2500, qPrintable(QString::number(named)));
    QVERIFY2(upgrading >= 1700 && upgrading < 4500, qPrintable(QString::number(upgrading)));
    QVERIFY2(done >= 2200 && done < 6000, qPrintable(QString::number(done)));
    const QStringList arguments{"SN7", "update-V2.0.tar", "0", device.folder()};
    QCOMPARE(device.recordedArguments(kScript), arguments);

    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 15000);
    QCOMPARE(text(view, "label_renote"), QStringLiteral("等待設備重啟，請拔出升級工具設備"));
    QVERIFY(QFileInfo::exists(device.folder()));
}

// Rebooting with the package still inserted would offer the same upgrade
// again, so the screen holds until the package folder is gone.
void TestUpgrade::alreadyLatestWaitsForRemoval()
{
    UpgradeDevice device;
    device.add(QStringLiteral("update-V2.0.tar"));
    device.writeVersionFile("V2.0\n");
    TestSupport::LogCapture log;
    DataUpgradeView view;
    view.findChild<QPushButton *>(QStringLiteral("pb_upgraded"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(view, "label_note"), QStringLiteral("已經是最新版本: V2.0"),
                              10000);
    // Let it check for the medium a few times, a second apart.
    const QString checked = QStringLiteral("remove upgrade device first");
    QTRY_VERIFY_WITH_TIMEOUT(log.count(checked) >= 3, 15000);
    QCOMPARE(text(view, "label_renote"), QStringLiteral("請拔出升級工具設備..."));
    QCOMPARE(TestSupport::rebootCount(), 0);

    QVERIFY(QDir(device.folder()).removeRecursively());
    QElapsedTimer sinceRemoval;
    sinceRemoval.start();
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 10000);
    QVERIFY2(sinceRemoval.elapsed() < 2500, qPrintable(QString::number(sinceRemoval.elapsed())));
    QCOMPARE(text(view, "label_renote"), QStringLiteral("等待設備重啟"));
}

KORVELLO_TEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
