#include "backupcatalog.h"
#include "datarecoverview.h"
#include "testdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kScript = QStringLiteral("recover_script.sh");
const QString kSerial = QStringLiteral("A7");
const QString kWrongDigest = QStringLiteral("0123456789abcdef0123456789abcdef");

// An archive spec is "TIMESTAMP-INDEX" (named like a backup of the serial)
// or a whole file name, optionally followed by ":" and how it is damaged:
// alone (intact, side file holds the digest alone), wrong, noside, upper
// (upper-case digest), truncated, sideonly (a side file and no archive).
QString fileNameFor(const QString &snum, const QString &spec)
{
    const QString name = spec.section(QLatin1Char(':'), 0, 0);
    if (name.contains(QLatin1Char('.')))
        return name;
    return QStringLiteral("data-") + snum + QLatin1Char('-') + name + QStringLiteral(".tar");
}

QString sideFileFor(const QString &folder, const QString &fileName)
{
    return folder + QLatin1Char('/') + BackupCatalog::baseName(fileName) + QStringLiteral(".md5");
}

void writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toLatin1());
}

// Builds one backup as the backup script would, then damages it as asked.
QString addArchive(const QString &folder, const QString &snum, const QString &spec)
{
    const QString fileName = fileNameFor(snum, spec);
    const QString damage = spec.section(QLatin1Char(':'), 1);
    const QString archive = folder + QLatin1Char('/') + fileName;
    const QString side = sideFileFor(folder, fileName);
    QDir().mkpath(folder);
    if (damage == QLatin1String("sideonly")) {
        writeText(side, kWrongDigest + QStringLiteral("  ") + fileName + QLatin1Char('\n'));
        return fileName;
    }
    TestSupport::makeTar(archive, fileName.toLatin1());
    if (damage == QLatin1String("noside"))
        return fileName;
    TestSupport::writeSideFile(archive, side);
    const QString digest = TestSupport::md5Of(archive);
    if (damage == QLatin1String("alone"))
        writeText(side, digest + QLatin1Char('\n'));
    else if (damage == QLatin1String("wrong"))
        writeText(side, kWrongDigest + QStringLiteral("  ") + fileName + QLatin1Char('\n'));
    else if (damage == QLatin1String("upper"))
        writeText(side, digest.toUpper() + QStringLiteral("  ") + fileName + QLatin1Char('\n'));
    else if (damage == QLatin1String("truncated"))
        QFile::resize(archive, QFileInfo(archive).size() / 2);
    return fileName;
}

int lineOf(const QStringList &lines, const QString &text)
{
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).contains(text))
            return i;
    }
    return -1;
}

void setSerial(bool isSet, const QString &snum)
{
    if (isSet)
        qputenv("snum", snum.toUtf8());
    else
        qunsetenv("snum");
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void selection_data();
    void selection();
    void selectionWithoutArchives();
    void job_data();
    void job();
    void buttonRestoresNewest();
};

void TestRestore::cleanup()
{
    qunsetenv("snum");
}

void TestRestore::selection_data()
{
    QTest::addColumn<QStringList>("specs");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("maxIndex");
    QTest::addColumn<QStringList>("damaged");

    // Made in this order on disk: only the names decide.
    QTest::newRow("equal index: earlier time stamp wins")
        << QStringList{"20260105080000-4", "20260101080000-4", "20260103080000-3"}
        << "20260101080000-4" << 4 << QStringList();
    QTest::newRow("digest alone in the side file")
        << QStringList{"20260101080000-1:alone", "20260102080000-2:alone"}
        << "20260102080000-2" << 2 << QStringList();
    QTest::newRow("last piece not a number is hashed, never chosen")
        << QStringList{"20260101080000-1", "20260102080000-x9"} << "20260101080000-1" << 1
        << QStringList();
    QTest::newRow("only a last piece that is not a number")
        << QStringList{"20260102080000-abc"} << QString() << 0 << QStringList();
    QTest::newRow("index 0 never wins")
        << QStringList{"20260101080000-0"} << QString() << 0 << QStringList();
    QTest::newRow("no intact archive")
        << QStringList{"20260101080000-1:wrong", "20260102080000-2:noside"} << QString() << 0
        << QStringList{"20260101080000-1:wrong", "20260102080000-2:noside"};
    QTest::newRow("upper-case extension is hashed under .tar")
        << QStringList{"20260101080000-2", "DATA-A7-20260103080000-5.TAR"} << "20260101080000-2"
        << 2 << QStringList{"DATA-A7-20260103080000-5.TAR"};
    QTest::newRow("unreadable archive without side file never matches")
        << QStringList{"20260101080000-2", "DATA-A7-20260103080000-5.TAR:noside"}
        << "20260101080000-2" << 2 << QStringList{"DATA-A7-20260103080000-5.TAR"};
    QTest::newRow("dot inside the name cuts the base name")
        << QStringList{"20260101080000-2", "data-A7-20260103080000-7.old.tar"}
        << "20260101080000-2" << 2 << QStringList{"data-A7-20260103080000-7.old.tar"};
}

// The host-side medium tool predicts the device's choice with this same call.
void TestRestore::selection()
{
    QFETCH(QStringList, specs);
    QFETCH(QString, chosen);
    QFETCH(int, maxIndex);
    QFETCH(QStringList, damaged);
    TestDevice device;
    const QString folder = BackupCatalog::deviceFolder(device.medium(), kSerial);
    for (const QString &spec : specs)
        addArchive(folder, kSerial, spec);

    QStringList reported;
    const BackupCatalog::Selection selection = BackupCatalog::selectNewestIntact(
        folder, [&reported](const BackupCatalog::Candidate &c) { reported << c.fileName; });

    QVERIFY(selection.folderExists);
    QVERIFY(selection.listedAny);
    QCOMPARE(QFileInfo(selection.chosenPath).fileName(),
             chosen.isEmpty() ? QString() : fileNameFor(kSerial, chosen));
    QCOMPARE(selection.maxIndex, maxIndex);
    QCOMPARE(reported, BackupCatalog::listArchives(folder));
    QStringList notIntact;
    for (const BackupCatalog::Candidate &candidate : selection.candidates) {
        QCOMPARE(candidate.archivePath, folder + QLatin1Char('/') + candidate.base + ".tar");
        const bool readable = QFileInfo::exists(candidate.archivePath);
        QCOMPARE(candidate.calMd5,
                 readable ? TestSupport::md5Of(candidate.archivePath) : QString());
        if (!candidate.intact)
            notIntact << candidate.fileName;
    }
    QStringList expectedDamaged;
    for (const QString &spec : damaged)
        expectedDamaged << fileNameFor(kSerial, spec);
    QCOMPARE(notIntact, expectedDamaged);
}

void TestRestore::selectionWithoutArchives()
{
    TestDevice device;
    const QString folder = BackupCatalog::deviceFolder(device.medium(), kSerial);
    int reported = 0;
    const auto count = [&reported](const BackupCatalog::Candidate &) { ++reported; };

    BackupCatalog::Selection selection = BackupCatalog::selectNewestIntact(folder, count);
    QVERIFY(!selection.folderExists);
    QVERIFY(!QFileInfo::exists(folder));

    addArchive(folder, kSerial, QStringLiteral("20260101080000-1:sideonly"));
    selection = BackupCatalog::selectNewestIntact(folder, count);
    QVERIFY(selection.folderExists);
    QVERIFY(!selection.listedAny);
    QVERIFY(selection.candidates.isEmpty());
    QVERIFY(selection.chosenPath.isEmpty());
    QCOMPARE(reported, 0);
}

void TestRestore::job_data()
{
    QTest::addColumn<bool>("snumSet");
    QTest::addColumn<QString>("snum");
    QTest::addColumn<QStringList>("specs");
    QTest::addColumn<int>("scriptExit"); // -1: no script on the medium
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("logLine");

    const QStringList three = {"20260101080000-1", "20260102080000-2", "20260103080000-3"};
    const QString restored = QStringLiteral("數據還原成功");
    const QString failed = QStringLiteral("數據還原失敗");
    const QString none = QStringLiteral("備份檔不存在");

    QTest::newRow("indexes 1 2 3 intact") << true << kSerial << three << 0 << "20260103080000-3"
                                          << "3" << restored << " maxIndex  3";
    for (const char *damage : {"wrong", "noside", "upper", "truncated"}) {
        QStringList specs = three;
        specs.last() += QLatin1Char(':') + QLatin1String(damage);
        QTest::addRow("newest damaged: %s", damage)
            << true << kSerial << specs << 0 << "20260102080000-2" << "2" << restored
            << "Error  calMd5 ";
    }
    QTest::newRow("empty snum") << false << QString() << three << 0 << "20260103080000-3" << "3"
                                << restored << " maxIndex  3";
    QTest::newRow("script exits 1") << true << kSerial << three << 1 << "20260103080000-3"
                                    << "3" << failed << "Exit Code: 1";
    QTest::newRow("no script") << true << kSerial << three << -1 << "20260103080000-3" << "3"
                               << failed << "Error: Script does not exist -";
    QTest::newRow("no device folder") << true << kSerial << QStringList() << 0 << QString()
                                      << QString() << none << "Error Path not exists:";
    QTest::newRow("only side files")
        << true << kSerial << QStringList{"20260103080000-3:sideonly"} << 0 << QString()
        << QString() << none << "not found right files ";
    QTest::newRow("no intact archive")
        << true << kSerial << QStringList{"20260103080000-3:wrong"} << 0 << QString() << QString()
        << none << " maxIndex  0";
}

void TestRestore::job()
{
    QFETCH(bool, snumSet);
    QFETCH(QString, snum);
    QFETCH(QStringList, specs);
    QFETCH(int, scriptExit);
    QFETCH(QString, chosen);
    QFETCH(QString, index);
    QFETCH(QString, note);
    QFETCH(QString, logLine);
    TestDevice device;
    setSerial(snumSet, snum);
    const QString folder = BackupCatalog::deviceFolder(device.medium(), snum);
    for (const QString &spec : specs)
        addArchive(folder, snum, spec);
    if (scriptExit >= 0)
        device.writeRecordingScript(kScript, scriptExit);

    TestSupport::LogCapture log;
    DataRecoverView view;
    QLabel *noteLine = view.findChild<QLabel *>(QStringLiteral("label_note"));
    QLabel *renote = view.findChild<QLabel *>(QStringLiteral("label_renote"));
    QVERIFY(noteLine && renote);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QMetaObject::invokeMethod(&view, "slot_toLoadTimeOut"));

    if (chosen.isEmpty()) {
        QCOMPARE(noteLine->text(), note);
        QCOMPARE(renote->text(), QStringLiteral("5秒後自動重啟"));
        QVERIFY(!device.scriptRan(kScript));
        QVERIFY2(log.contains(logLine), qPrintable(logLine));
        if (specs.isEmpty())
            QVERIFY(!QFileInfo::exists(BackupCatalog::backupDir(device.medium())));
        return;
    }
    const QString fileName = fileNameFor(snum, chosen);
    QCOMPARE(noteLine->text(), QStringLiteral("備份檔名稱 :") + fileName);
    QVERIFY(!device.scriptRan(kScript));
    QTRY_VERIFY_WITH_TIMEOUT(!renote->text().isEmpty(), 10000);
    QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(renote->text().endsWith(QStringLiteral("秒後自動重啟")));
    QCOMPARE(noteLine->text(), note);
    const QStringList expected = {snum, fileName, index, device.medium() + "/run/data"};
    QCOMPARE(device.recordedArguments(kScript), scriptExit < 0 ? QStringList() : expected);

    const QStringList lines = log.lines();
    QVERIFY2(lineOf(lines, logLine) >= 0, qPrintable(logLine));
    if (logLine == QLatin1String("Error  calMd5 ")) {
        // Only the newest is damaged, and it is reported before the choice.
        QCOMPARE(log.count(logLine), 1);
        QVERIFY(lineOf(lines, logLine) < lineOf(lines, QStringLiteral(" maxIndex  2")));
    }
}

// The whole job from a press of the button, as the engineer sees it.
void TestRestore::buttonRestoresNewest()
{
    TestDevice device;
    setSerial(true, kSerial);
    const QString folder = BackupCatalog::deviceFolder(device.medium(), kSerial);
    for (const char *tail : {"20260103080000-3", "20260101080000-1", "20260102080000-2"})
        addArchive(folder, kSerial, QLatin1String(tail));
    device.writeRecordingScript(kScript);

    DataRecoverView view;
    QLabel *noteLine = view.findChild<QLabel *>(QStringLiteral("label_note"));
    QPushButton *button = view.findChild<QPushButton *>(QStringLiteral("pb_recover"));
    QVERIFY(noteLine && button);
    QElapsedTimer clock;
    clock.start();
    button->click();
    QCOMPARE(noteLine->text(), QStringLiteral("還原中，請稍後..."));
    QVERIFY(button->isHidden());

    QTRY_COMPARE_WITH_TIMEOUT(noteLine->text(), QStringLiteral("數據還原成功"), 15000);
    QVERIFY(clock.elapsed() >= 1100);
    const QString name = fileNameFor(kSerial, QStringLiteral("20260103080000-3"));
    QCOMPARE(device.recordedArguments(kScript),
             (QStringList{kSerial, name, "3", device.medium() + "/run/data"}));
}

KORVELLO_TEST_MAIN(TestRestore)
#include "tst_restore.moc"
