#include "databackupview.h"
#include "testdevice.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QtTest>

#include <time.h>

namespace {

const QString kScript = QStringLiteral("backup_script.sh");
const QString kBusy = QStringLiteral("數據備份中，請稍後...");
const QString kMismatch = QStringLiteral("備份失敗 ：備份檔校驗錯誤");

// Bodies for the medium's backup script, which names the backup after its own arguments as the
// real one does: $b is the path of the backup without extension.
const QString kNaming = QStringLiteral("b=\"$4/data-$1/data-$1-$2-$3\"\n");
const QString kTar = QStringLiteral("tar -cf \"$b.tar\" -C \"${0%/*}\" backup_script.sh\n");
const QString kMd5 = QStringLiteral("(cd \"${b%/*}\" && md5sum \"${b##*/}.tar\")");
const QString kGood = kTar + kMd5 + QStringLiteral(" > \"$b.md5\"");

// Writes the backup script; a non-empty setup runs as shell commands in the device folder of
// snum, created first (the commands may replace it).
bool prepare(const TestDevice &device, const QString &snum, const QString &setup, int exitCode,
             const QString &body)
{
    device.writeRecordingScript(kScript, exitCode, kNaming + body);
    if (setup.isEmpty())
        return true;
    const QString folder = device.medium() + QStringLiteral("/run/data/data-") + snum;
    return QDir().mkpath(folder)
           && QProcess::execute(QStringLiteral("sh"),
                                {QStringLiteral("-c"), "cd \"$0\" && " + setup, folder})
                  == 0;
}

// The local time in the zone the suite runs in, formatted as a time stamp.
QString localNow()
{
    return QDateTime::currentDateTimeUtc().addSecs(8 * 3600).toString("yyyyMMddhhmmss");
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void numbering_data();
    void numbering();
    void outcome_data();
    void outcome();
};

// Eight hours east of UTC, a time stamp taken in UTC cannot pass for local time.
void TestBackup::initTestCase()
{
    qputenv("TZ", "KRV-8");
    tzset();
}

// What the script receives, and that the device folder is there for it.
void TestBackup::numbering_data()
{
    QTest::addColumn<QVariant>("serial"); // null: snum unset
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("index");

    const QVariant sn = QStringLiteral("SN42");
    QTest::newRow("first backup, empty medium") << sn << "" << "1";
    QTest::newRow("1 5 3") << sn << "touch data-SN42-1.tar data-SN42-5.tar data-SN42-3.tar"
                           << "6";
    QTest::newRow("upper case") << sn << "touch DATA-SN42-4.TAR" << "5";
    QTest::newRow("side file, directory, link: nothing listed")
        << sn << "touch data-SN42-7.md5 ../x.tar && mkdir data-SN42-8.tar"
                 " && ln -s ../x.tar data-SN42-9.tar"
        << "1";
    QTest::newRow("no 32-bit index: never below 2")
        << sn << "touch data-SN42-x.tar data-SN42-0.tar data-SN42-2147483648.tar" << "2";
    QTest::newRow("snum with -") << QVariant(QStringLiteral("A-7"))
                                 << "touch data-A-7-20230101000000-4.tar" << "5";
    // The base name ends at the first ".", inside the serial: index 1 is read.
    QTest::newRow("snum with .") << QVariant(QStringLiteral("1.2"))
                                 << "touch data-1.2-20230101000000-7.tar" << "2";
    QTest::newRow("snum unset") << QVariant() << "touch data--20230101000000-3.tar" << "4";
}

void TestBackup::numbering()
{
    QFETCH(QVariant, serial);
    QFETCH(QString, setup);
    QFETCH(QString, index);
    TestDevice device;
    QVERIFY(prepare(device, serial.toString(), setup, 3, QString()));
    DataBackupView view;
    TestSupport::setSerial(serial); // after the screen exists: every job reads it afresh
    const QString before = localNow();
    view.doDataBackUp();
    const QString after = localNow();

    const QString backupDir = device.medium() + QStringLiteral("/run/data");
    QVERIFY(QFileInfo(backupDir + QStringLiteral("/data-") + serial.toString()).isDir());
    QStringList arguments = device.recordedArguments(kScript);
    QCOMPARE(arguments.size(), 4);
    const QString stamp = arguments.takeAt(1);
    QVERIFY2(stamp.size() == 14 && stamp >= before && stamp <= after, qPrintable(stamp));
    QCOMPARE(arguments, (QStringList{serial.toString(), index, backupDir}));
}

// Every way a job ends: its note, and the countdown that follows. A non-empty setup runs in
// the device folder of SN42.
void TestBackup::outcome_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("checked"); // the checking note comes first
    QTest::addColumn<QString>("note");

    QTest::newRow("plain file at the device folder")
        << "cd .. && rmdir data-SN42 && echo > data-SN42" << 0 << kGood << false
        << "創建備份檔夾失敗";
    QTest::newRow("largest index taken")
        << "touch data-SN42-2147483647.tar" << 0 << kGood << false << "備份失敗";
    QTest::newRow("script missing")
        << "rm ../../backup_script.sh" << 0 << kGood << false << "備份腳本不存在";
    QTest::newRow("script not executable")
        << "chmod -x ../../backup_script.sh" << 0 << kGood << false << "備份腳本不可運行";
    QTest::newRow("exit code 3") << "" << 3 << kGood << false << kBusy;
    QTest::newRow("exit 0, nothing written")
        << "" << 0 << "" << true << "備份失敗 ：備份檔不存在";
    QTest::newRow("another index written")
        << "" << 0 << "b=\"${b%-1}-2\"\n" + kGood << true << "備份失敗 ：備份檔不存在";
    QTest::newRow("no side file") << "" << 0 << kTar << true << "備份失敗 ：備份檔MD5不不存在";
    QTest::newRow("wrong digest")
        << "" << 0 << kTar + "echo 00112233445566778899aabbccddeeff > \"$b.md5\"" << true
        << kMismatch;
    QTest::newRow("upper-case digest")
        << "" << 0 << kTar + kMd5 + " | tr a-f A-F > \"$b.md5\"" << true << kMismatch;
    QTest::newRow("side file without a digest")
        << "" << 0 << kTar + "echo no digest > \"$b.md5\"" << true << kMismatch;
    // Two empty digests: an archive that cannot be read is never a good backup.
    QTest::newRow("unreadable archive, empty side file")
        << "" << 0 << "mkdir \"$b.tar\"; : > \"$b.md5\"" << true << kMismatch;
    QTest::newRow("good") << "" << 0 << kGood << true << " 備份成功 ";
}

void TestBackup::outcome()
{
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, body);
    QFETCH(bool, checked);
    QFETCH(QString, note);
    TestDevice device;
    QVERIFY(prepare(device, QStringLiteral("SN42"), setup, exitCode, body));
    TestSupport::setSerial(QStringLiteral("SN42"));
    DataBackupView view;
    auto *noteLine = view.findChild<QLabel *>(QStringLiteral("label_note"));
    auto *renote = view.findChild<QLabel *>(QStringLiteral("label_renote"));
    view.updateLabelNote(kBusy); // as the start button leaves it
    QElapsedTimer clock;
    clock.start();
    view.doDataBackUp();

    if (checked) {
        QCOMPARE(noteLine->text(), QStringLiteral("備份數據檢查中......"));
        QVERIFY(renote->text().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!renote->text().isEmpty(), 10000);
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
    }
    QCOMPARE(noteLine->text(), note);
    QVERIFY(renote->text().endsWith(QStringLiteral("秒後自動重啟")));
}

KORVELLO_TEST_MAIN(TestBackup)
#include "tst_backup.moc"
