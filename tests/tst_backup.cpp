#include "databackupview.h"
#include "testdevice.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <time.h>

namespace {

const char kScript[] = "backup_script.sh";
const QString kBusy = QStringLiteral("數據備份中，請稍後...");
const QString kChecking = QStringLiteral("備份數據檢查中......");
const QString kFirstTick = QStringLiteral("5秒後自動重啟");

// Script bodies that act as the medium's backup script. They build the
// names from their own arguments, as the real script does.
const char kBase[] = "base=\"$4/data-$1/data-$1-$2-$3\"\n";
const char kOtherIndex[] = "base=\"$4/data-$1/data-$1-$2-$(($3 + 1))\"\n";
const char kTar[] = "tar -cf \"$base.tar\" -C \"$(dirname \"$0\")\" backup_script.sh\n";
const char kMd5[] = "(cd \"$(dirname \"$base\")\" && md5sum \"$(basename \"$base\").tar\")";

QString body(const char *naming, const QString &sideFile = QString())
{
    QString text = QLatin1String(naming) + QLatin1String(kTar);
    if (!sideFile.isEmpty())
        text += sideFile + QLatin1Char('\n');
    return text;
}

QString goodBody()
{
    return body(kBase, QLatin1String(kMd5) + QStringLiteral(" > \"$base.md5\""));
}

void setSerial(const QVariant &serial)
{
    if (serial.isNull())
        qunsetenv("snum");
    else
        qputenv("snum", serial.toString().toUtf8());
}

QLabel *label(DataBackupView &view, const char *name)
{
    return view.findChild<QLabel *>(QLatin1String(name));
}

// In the device folder: "name/" makes a directory, "name@" a symbolic link
// to an archive elsewhere, an empty entry nothing.
void fillFolder(const TestDevice &device, const QString &folder, const QStringList &entries)
{
    QDir().mkpath(folder);
    for (const QString &entry : entries) {
        const QString path = folder + QLatin1Char('/') + entry;
        if (entry.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(path);
        } else if (entry.endsWith(QLatin1Char('@'))) {
            const QString target = device.root() + QStringLiteral("/elsewhere-9.tar");
            QFile::link(device.writeFile(target, "x"), path.left(path.size() - 1));
        } else if (!entry.isEmpty()) {
            device.writeFile(path, "archive");
        }
    }
}

QString firstTickLine(const TestSupport::LogCapture &log)
{
    for (const QString &line : log.lines()) {
        if (line.contains(QStringLiteral("handleRebootCount")))
            return line;
    }
    return QString();
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void numbering_data();
    void numbering();
    void outcome_data();
    void outcome();
    void checkingNoteThenCountdown();
    void serialReadAtEveryJob();
    void timeStampIsLocalTime();
    void fullJobEndsInReboot();
};

void TestBackup::init()
{
    TestSupport::resetRebootCount();
    setSerial(QStringLiteral("SN42"));
}

void TestBackup::cleanup()
{
    qunsetenv("snum");
}

void TestBackup::numbering_data()
{
    QTest::addColumn<QVariant>("serial");
    QTest::addColumn<QStringList>("entries"); // empty: no device folder at all
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("index");

    const QVariant sn = QStringLiteral("SN42");
    const QString f = QStringLiteral("data-SN42");
    auto archive = [](const QString &index) {
        return QStringLiteral("data-SN42-20230101000000-") + index + QStringLiteral(".tar");
    };
    QTest::newRow("empty medium") << sn << QStringList() << f << "1";
    QTest::newRow("empty folder") << sn << QStringList{QString()} << f << "1";
    QTest::newRow("one archive") << sn << QStringList{archive("1")} << f << "2";
    QTest::newRow("1 5 3") << sn << QStringList{archive("1"), archive("5"), archive("3")} << f
                           << "6";
    QTest::newRow("same index twice")
        << sn << QStringList{archive("4"), "data-SN42-20230202000000-4.tar"} << f << "5";
    QTest::newRow("upper case") << sn << QStringList{"DATA-SN42-20230101000000-4.TAR"} << f
                                << "5";
    QTest::newRow("only side files") << sn << QStringList{"data-SN42-20230101000000-4.md5"} << f
                                     << "1";
    QTest::newRow("directory") << sn << QStringList{archive("9") + "/"} << f << "1";
    QTest::newRow("symbolic link") << sn << QStringList{archive("9") + "@", archive("2")} << f
                                   << "3";
    QTest::newRow("not a number") << sn << QStringList{"data-SN42-20230101000000-x.tar"} << f
                                  << "2";
    QTest::newRow("index 0") << sn << QStringList{archive("0")} << f << "2";
    QTest::newRow("beyond 32 bits") << sn << QStringList{archive("2147483648")} << f << "2";
    QTest::newRow("last index left")
        << sn << QStringList{archive("2147483646")} << f << "2147483647";
    QTest::newRow("snum with -") << QVariant(QStringLiteral("A-7"))
                                 << QStringList{"data-A-7-20230101000000-4.tar"}
                                 << "data-A-7" << "5";
    // The base name ends at the first ".", inside the serial: index 1 is read.
    QTest::newRow("snum with .") << QVariant(QStringLiteral("1.2"))
                                 << QStringList{"data-1.2-20230101000000-7.tar"}
                                 << "data-1.2" << "2";
    QTest::newRow("snum unset") << QVariant() << QStringList{"data--20230101000000-3.tar"}
                                << "data-" << "4";
    QTest::newRow("snum unset, empty medium") << QVariant() << QStringList() << "data-" << "1";
}

void TestBackup::numbering()
{
    QFETCH(QVariant, serial);
    QFETCH(QStringList, entries);
    QFETCH(QString, folder);
    QFETCH(QString, index);
    TestDevice device;
    const QString backupDir = device.medium() + QStringLiteral("/run/data");
    if (!entries.isEmpty())
        fillFolder(device, backupDir + QLatin1Char('/') + folder, entries);
    device.writeRecordingScript(QLatin1String(kScript), 3);
    DataBackupView view;
    setSerial(serial);

    view.doDataBackUp();

    QVERIFY(QFileInfo(backupDir + QLatin1Char('/') + folder).isDir());
    const QStringList arguments = device.recordedArguments(QLatin1String(kScript));
    QCOMPARE(arguments.size(), 4);
    QCOMPARE(arguments.at(0), serial.toString());
    QCOMPARE(arguments.at(2), index);
    QCOMPARE(arguments.at(3), backupDir);
}

void TestBackup::outcome_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("scriptBody");
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("scriptRan");
    QTest::addColumn<bool>("verified");
    QTest::addColumn<bool>("archiveLeft");

    const QString none;
    const QString good = goodBody();
    QTest::newRow("file at device folder")
        << "file at data-SN42" << 0 << good << "創建備份檔夾失敗" << false << false << false;
    QTest::newRow("file at backup dir")
        << "file at data" << 0 << good << "創建備份檔夾失敗" << false << false << false;
    QTest::newRow("largest index taken")
        << "largest index" << 0 << good << "備份失敗" << false << false << true;
    QTest::newRow("script missing")
        << "no script" << 0 << none << "備份腳本不存在" << false << false << false;
    QTest::newRow("not executable")
        << "not executable" << 0 << good << "備份腳本不可運行" << false << false << false;
    QTest::newRow("does not start")
        << "bad interpreter" << 0 << none << "備份腳本運行失敗" << false << false << false;
    QTest::newRow("exit code 3") << none << 3 << good << kBusy << true << false << true;
    QTest::newRow("killed") << none << 0 << "kill -9 $$" << kBusy << true << false << false;
    QTest::newRow("exit 0, nothing written")
        << none << 0 << none << "備份失敗 ：備份檔不存在" << true << true << false;
    QTest::newRow("other index written")
        << none << 0 << body(kOtherIndex) << "備份失敗 ：備份檔不存在" << true << true << true;
    QTest::newRow("no side file")
        << none << 0 << body(kBase) << "備份失敗 ：備份檔MD5不不存在" << true << true << true;
    QTest::newRow("wrong digest")
        << none << 0 << body(kBase, "echo '00112233445566778899aabbccddeeff  x' > \"$base.md5\"")
        << "備份失敗 ：備份檔校驗錯誤" << true << true << true;
    QTest::newRow("upper-case digest")
        << none << 0 << body(kBase, QLatin1String(kMd5) + " | tr a-f A-F > \"$base.md5\"")
        << "備份失敗 ：備份檔校驗錯誤" << true << true << true;
    QTest::newRow("side file without digest")
        << none << 0 << body(kBase, "echo 'no digest' > \"$base.md5\"")
        << "備份失敗 ：備份檔校驗錯誤" << true << true << true;
    // An archive that cannot be read and a side file without a digest give
    // two empty digests: never a good backup.
    QTest::newRow("unreadable archive, empty side file")
        << none << 0 << QStringLiteral("%1mkdir \"$base.tar\"\necho > \"$base.md5\"").arg(kBase)
        << "備份失敗 ：備份檔校驗錯誤" << true << true << false;
    QTest::newRow("good") << none << 0 << good << " 備份成功 " << true << true << true;
}

void TestBackup::outcome()
{
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, scriptBody);
    QFETCH(QString, note);
    QFETCH(bool, scriptRan);
    QFETCH(bool, verified);
    QFETCH(bool, archiveLeft);
    TestDevice device;
    const QString folder = device.medium() + QStringLiteral("/run/data/data-SN42");
    const QString script =
        device.writeRecordingScript(QLatin1String(kScript), exitCode, scriptBody);
    if (setup == QLatin1String("file at data-SN42"))
        device.writeFile(folder, "a plain file");
    else if (setup == QLatin1String("file at data"))
        device.writeFile(device.medium() + QStringLiteral("/run/data"), "a plain file");
    else if (setup == QLatin1String("largest index"))
        device.writeFile(folder + QStringLiteral("/data-SN42-20230101000000-2147483647.tar"), "");
    else if (setup == QLatin1String("no script"))
        QFile::remove(script);
    else if (setup == QLatin1String("not executable"))
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner);
    else if (setup == QLatin1String("bad interpreter"))
        device.writeFile(script, "#!/nonexistent/interpreter\n");
    TestSupport::LogCapture log;
    DataBackupView view;
    QLabel *renote = label(view, "label_renote");

    view.findChild<QPushButton *>(QStringLiteral("pb_backup"))->click();
    QVERIFY(renote->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!renote->text().isEmpty(), 15000);

    QCOMPARE(label(view, "label_note")->text(), note);
    QVERIFY(!renote->isHidden());
    QVERIFY(firstTickLine(log).endsWith(QStringLiteral(" 5")));
    QCOMPARE(TestSupport::rebootCount(), 0);
    QCOMPARE(device.scriptRan(QLatin1String(kScript)), scriptRan);
    QCOMPARE(log.contains(QStringLiteral("slot_toCheckTimeOut")), verified);
    // A failed backup is left on the medium as the script wrote it.
    const QStringList archives = QDir(folder).entryList({QStringLiteral("data-*.tar")},
                                                        QDir::Files);
    QCOMPARE(archives.size(), archiveLeft ? 1 : 0);
}

// The checking note stays on screen for the check delay before the archive
// is hashed; a failure before it starts the countdown at once.
void TestBackup::checkingNoteThenCountdown()
{
    TestDevice device;
    device.writeRecordingScript(QLatin1String(kScript), 0, goodBody());
    DataBackupView view;
    QLabel *renote = label(view, "label_renote");
    QElapsedTimer clock;
    clock.start();
    view.doDataBackUp();
    QCOMPARE(label(view, "label_note")->text(), kChecking);
    QVERIFY(renote->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!renote->text().isEmpty(), 10000);
    QVERIFY(clock.elapsed() >= 800);
    QCOMPARE(label(view, "label_note")->text(), QStringLiteral(" 備份成功 "));

    QFile::remove(device.runDir() + QLatin1Char('/') + QLatin1String(kScript));
    DataBackupView failing;
    failing.doDataBackUp();
    QCOMPARE(label(failing, "label_renote")->text(), kFirstTick);
}

void TestBackup::serialReadAtEveryJob()
{
    TestDevice device;
    device.writeRecordingScript(QLatin1String(kScript), 3);
    DataBackupView first;
    DataBackupView second;
    setSerial(QStringLiteral("FIRST"));
    first.doDataBackUp();
    QCOMPARE(device.recordedArguments(QLatin1String(kScript)).value(0), QStringLiteral("FIRST"));
    setSerial(QStringLiteral("SECOND"));
    second.doDataBackUp();
    QCOMPARE(device.recordedArguments(QLatin1String(kScript)).value(0), QStringLiteral("SECOND"));
    QVERIFY(QFileInfo(device.medium() + QStringLiteral("/run/data/data-SECOND")).isDir());
}

// In a zone eight hours east of UTC a time stamp taken in UTC cannot pass.
void TestBackup::timeStampIsLocalTime()
{
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "KRV-8");
    tzset();
    TestDevice device;
    device.writeRecordingScript(QLatin1String(kScript), 3);
    DataBackupView view;
    const QString format = QStringLiteral("yyyyMMddhhmmss");
    const QString before = QDateTime::currentDateTimeUtc().addSecs(8 * 3600).toString(format);
    view.doDataBackUp();
    const QString after = QDateTime::currentDateTimeUtc().addSecs(8 * 3600).toString(format);
    if (oldZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    tzset();

    const QString stamp = device.recordedArguments(QLatin1String(kScript)).value(1);
    QCOMPARE(stamp.size(), 14);
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(stamp));
}

void TestBackup::fullJobEndsInReboot()
{
    TestDevice device;
    device.writeRecordingScript(QLatin1String(kScript), 0, goodBody());
    DataBackupView view;
    QLabel *note = label(view, "label_note");
    QLabel *renote = label(view, "label_renote");
    QStringList lines;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (lines.value(lines.size() - 1) != renote->text())
            lines << renote->text();
    });
    watch.start(20);

    view.findChild<QPushButton *>(QStringLiteral("pb_backup"))->click();
    QCOMPARE(note->text(), kBusy);
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::rebootCount(), 1, 30000);
    QTest::qWait(50);

    QCOMPARE(note->text(), QStringLiteral(" 備份成功 "));
    QCOMPARE(lines, (QStringList{kFirstTick, "4秒後自動重啟", "3秒後自動重啟", "2秒後自動重啟",
                                 "1秒後自動重啟", "等待設備重啟，請拔出U盤"}));
    const QStringList arguments = device.recordedArguments(QLatin1String(kScript));
    const QString backupDir = device.medium() + QStringLiteral("/run/data");
    QCOMPARE(arguments.value(2), QStringLiteral("1"));
    QCOMPARE(arguments.value(3), backupDir);
    QVERIFY(QFileInfo(backupDir + QStringLiteral("/data-SN42/data-SN42-") + arguments.value(1)
                      + QStringLiteral("-1.tar")).isFile());
}

KORVELLO_TEST_MAIN(TestBackup)
#include "tst_backup.moc"
