#include "datarecoverview.h"
#include "testdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QtTest>

namespace {

const QString kScript = QStringLiteral("recover_script.sh");
const QString kSerial = QStringLiteral("A7");
const QByteArray kWrongDigest = "0123456789abcdef0123456789abcdef\n";

// A backup is "TIMESTAMP-INDEX" (named after the serial) or a whole file name, optionally with
// ":" and a flaw: wrong or upper (-case digest), truncated, noside, sideonly (no archive), or
// alone: intact, the side file holding the digest alone instead of md5sum's line.
QString fileNameFor(const QString &snum, const QString &backup)
{
    const QString name = backup.section(QLatin1Char(':'), 0, 0);
    return name.contains(QLatin1Char('.')) ? name : "data-" + snum + '-' + name + ".tar";
}

// Makes the backups in the device folder of snum as the backup script would, with real tar and
// md5sum, then spoils them as asked. Without backups there is no device folder.
void addBackups(const TestDevice &device, const QString &snum, const QStringList &backups)
{
    const QString folder = device.medium() + QStringLiteral("/run/data/data-") + snum;
    for (const QString &backup : backups) {
        const QString fileName = fileNameFor(snum, backup);
        const QString flaw = backup.section(QLatin1Char(':'), 1);
        const QString archive = folder + QLatin1Char('/') + fileName;
        const QString side = folder + QLatin1Char('/') + fileName.section('.', 0, 0) + ".md5";
        if (flaw == QLatin1String("sideonly")) {
            device.writeFile(side, kWrongDigest);
            continue;
        }
        TestSupport::makeTar(archive, fileName.toLatin1());
        if (flaw != QLatin1String("noside"))
            TestSupport::writeSideFile(archive, side);
        const QByteArray digest = TestSupport::md5Of(archive).toLatin1();
        if (flaw == QLatin1String("alone"))
            device.writeFile(side, digest + '\n');
        else if (flaw == QLatin1String("wrong"))
            device.writeFile(side, kWrongDigest);
        else if (flaw == QLatin1String("upper"))
            device.writeFile(side, digest.toUpper() + '\n');
        else if (flaw == QLatin1String("truncated"))
            QFile::resize(archive, QFileInfo(archive).size() / 2);
    }
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private slots:
    void job_data();
    void job();
    void maxIndexOnlyFromListedArchives();
};

// Which backup is restored, what the script receives and how the job ends.
void TestRestore::job_data()
{
    QTest::addColumn<QVariant>("serial");   // null: snum unset
    QTest::addColumn<QStringList>("backups"); // in the order they are made: only names decide
    QTest::addColumn<int>("scriptExit");    // -1: no script on the medium
    QTest::addColumn<QString>("chosen");    // empty: nothing to restore
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("logLine");

    const QVariant sn = kSerial;
    const QStringList three = {"20260101080000-1", "20260102080000-2:alone", "20260103080000-3"};
    const QString restored = QStringLiteral("數據還原成功");
    const QString failed = QStringLiteral("數據還原失敗");
    const QString none = QStringLiteral("備份檔不存在");

    QTest::newRow("1 2 3 intact") << sn << three << 0 << "20260103080000-3" << restored
                                  << " maxIndex  3";
    for (const char *flaw : {"wrong", "upper", "truncated", "noside"}) {
        QTest::addRow("newest %s", flaw)
            << sn << QStringList{three.at(0), three.at(1), three.at(2) + ':' + flaw} << 0
            << "20260102080000-2" << restored << "Error  calMd5 ";
    }
    QTest::newRow("equal index: earlier time stamp")
        << sn << QStringList{"20260105080000-4", "20260101080000-4", "20260103080000-3"} << 0
        << "20260101080000-4" << restored << " maxIndex  4";
    // Hashed under base name + ".tar", which does not exist: the first never matches its side
    // file, the second has none and must not count as two equal empty digests.
    QTest::newRow("paired by base name")
        << sn
        << QStringList{"20260101080000-2", "DATA-A7-20260103080000-5.TAR",
                       "DATA-A7-20260104080000-6.TAR:noside"}
        << 0 << "20260101080000-2" << restored << "Error  calMd5 ";
    QTest::newRow("snum unset") << QVariant() << three << 0 << "20260103080000-3" << restored
                                << " maxIndex  3";
    QTest::newRow("script exits 1") << sn << three << 1 << "20260103080000-3" << failed << "";
    QTest::newRow("script missing") << sn << three << -1 << "20260103080000-3" << failed << "";
    QTest::newRow("no device folder")
        << sn << QStringList() << 0 << "" << none << "Error Path not exists:";
    QTest::newRow("only side files") << sn << QStringList{"20260103080000-3:sideonly"} << 0 << ""
                                     << none << "not found right files ";
    QTest::newRow("index 0, not a number")
        << sn << QStringList{"20260101080000-0", "20260102080000-x9"} << 0 << "" << none
        << " maxIndex  0";
}

void TestRestore::job()
{
    QFETCH(QVariant, serial);
    QFETCH(QStringList, backups);
    QFETCH(int, scriptExit);
    QFETCH(QString, chosen);
    QFETCH(QString, note);
    QFETCH(QString, logLine);
    TestDevice device;
    const QString snum = serial.toString();
    addBackups(device, snum, backups);
    if (scriptExit >= 0)
        device.writeRecordingScript(kScript, scriptExit);
    TestSupport::setSerial(serial);
    TestSupport::LogCapture log;
    DataRecoverView view;
    auto *noteLine = view.findChild<QLabel *>(QStringLiteral("label_note"));
    auto *renote = view.findChild<QLabel *>(QStringLiteral("label_renote"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QMetaObject::invokeMethod(&view, "slot_toLoadTimeOut"));

    const QString backupDir = device.medium() + QStringLiteral("/run/data");
    QStringList arguments; // none when no script runs
    if (!chosen.isEmpty()) {
        const QString fileName = fileNameFor(snum, chosen);
        QCOMPARE(noteLine->text(), QStringLiteral("備份檔名稱 :") + fileName);
        QTRY_VERIFY_WITH_TIMEOUT(!renote->text().isEmpty(), 10000);
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
        if (scriptExit >= 0)
            arguments = QStringList{snum, fileName, chosen.section('-', -1), backupDir};
    }
    QCOMPARE(noteLine->text(), note);
    QVERIFY(renote->text().endsWith(QStringLiteral("秒後自動重啟")));
    QCOMPARE(device.recordedArguments(kScript), arguments);
    QVERIFY2(logLine.isEmpty() || log.contains(logLine), qPrintable(logLine));
    // The restoration never makes folders.
    QCOMPARE(QFileInfo::exists(backupDir), !backups.isEmpty());
}

// A folder without listed archives leaves the index the script receives as it was.
void TestRestore::maxIndexOnlyFromListedArchives()
{
    TestDevice device;
    addBackups(device, kSerial, {"20260103080000-3"});
    addBackups(device, QStringLiteral("B8"), {"20260103080000-5:sideonly"});
    device.writeRecordingScript(kScript);
    DataRecoverView view;
    const QString backupDir = device.medium() + QStringLiteral("/run/data");
    QVERIFY(!view.findBackIndex(backupDir + QStringLiteral("/data-A7")).isEmpty());
    QVERIFY(view.findBackIndex(backupDir + QStringLiteral("/data-B8")).isEmpty());
    QCOMPARE(view.runCmdSH(), 0);
    QCOMPARE(device.recordedArguments(kScript).value(2), QStringLiteral("3"));
}

KORVELLO_TEST_MAIN(TestRestore)
#include "tst_restore.moc"
