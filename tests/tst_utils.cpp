#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <climits>
#include <cstdio>
#include <functional>
#include <unistd.h>

using TestSupport::LogCapture;

namespace {

const QByteArray kDigest = "0123456789abcdef0123456789abcdef";

// What a call writes to the process's standard output (fd 1).
QByteArray captureStdout(const std::function<void()> &call)
{
    QTemporaryFile sink;
    if (!sink.open())
        return "cannot capture";
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(sink.handle(), STDOUT_FILENO);
    call();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QFile written(sink.fileName());
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

} // namespace

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void profileSetters_data();
    void profileSetters();
    void storageRoot_data();
    void storageRoot();
    void readVersion_data();
    void readVersion();
    void calculateMd5_data();
    void calculateMd5();
    void calculateMd5Failure_data();
    void calculateMd5Failure();
    void extractMd5_data();
    void extractMd5();
    void versionText();
};

void TestUtils::cleanup()
{
    Utils::setSDevType(0);
    Utils::setSDevControlType(0);
}

void TestUtils::profileSetters_data()
{
    QTest::addColumn<bool>("control");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("stored");
    QTest::newRow("type 1") << false << 1 << true;
    QTest::newRow("type 2") << false << 2 << true;
    QTest::newRow("type 3") << false << 3 << false;
    QTest::newRow("type -1") << false << -1 << false;
    QTest::newRow("type INT_MIN") << false << INT_MIN << false;
    QTest::newRow("control 3") << true << 3 << true;
    QTest::newRow("control 4") << true << 4 << false;
    QTest::newRow("control -1") << true << -1 << false;
    QTest::newRow("control INT_MAX") << true << INT_MAX << false;
}

void TestUtils::profileSetters()
{
    QFETCH(bool, control);
    QFETCH(int, value);
    QFETCH(bool, stored);
    LogCapture log;
    if (control)
        Utils::setSDevControlType(value);
    else
        Utils::setSDevType(value);

    const int now = control ? Utils::getSDevControlType() : Utils::getSDevType();
    QCOMPARE(now, stored ? value : 0);
    const QString name = control ? QStringLiteral("setSDevControlType")
                                 : QStringLiteral("setSDevType");
    const QString line = QStringLiteral("===  %1   %2").arg(name).arg(value);
    QCOMPARE(log.lines(), stored ? QStringList(line) : QStringList());
}

void TestUtils::storageRoot_data()
{
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("root");
    QTest::addColumn<int>("upgradeDirOn");  // medium holding run/upgrade; -1 none, 9 a plain file
    QTest::addColumn<bool>("exists");
    QTest::newRow("usb, folder there") << 0 << "/mnt/usb/sda1" << 0 << true;
    QTest::newRow("sd card, folder there") << 1 << "/mnt/sdcard/mmcblk1p1" << 1 << true;
    QTest::newRow("sd card, folder on usb only") << 1 << "/mnt/sdcard/mmcblk1p1" << 0 << false;
    QTest::newRow("type 2 is usb") << 2 << "/mnt/usb/sda1" << 0 << true;
    QTest::newRow("no folder") << 0 << "/mnt/usb/sda1" << -1 << false;
    QTest::newRow("a file, not a folder") << 0 << "/mnt/usb/sda1" << 9 << false;
}

void TestUtils::storageRoot()
{
    QFETCH(int, devType);
    QFETCH(QString, root);
    QFETCH(int, upgradeDirOn);
    QFETCH(bool, exists);
    TestDevice device;
    if (upgradeDirOn == 9)
        device.writeFile(device.runDir(0) + QStringLiteral("/upgrade"), "x");
    else if (upgradeDirOn >= 0)
        QDir().mkpath(device.runDir(upgradeDirOn) + QStringLiteral("/upgrade"));
    Utils::setSDevType(devType);

    QCOMPARE(Utils::getDevicePath(), device.root() + root);
    LogCapture log;
    QCOMPARE(Utils::checkUpgradeDirExists(), exists);
    QVERIFY(log.lines().isEmpty());
    if (upgradeDirOn == -1)
        QVERIFY(!QFileInfo::exists(device.root() + root + QStringLiteral("/run")));
}

void TestUtils::readVersion_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("printed");  // %1 stands for the file's path
    QTest::newRow("first of several lines") << true << QByteArray("V1.0.3\nV9\n") << "V1.0.3" << "";
    QTest::newRow("no final line feed") << true << QByteArray("V1.0.3") << "V1.0." << "";
    QTest::newRow("CR LF keeps the CR") << true << QByteArray("V1.0.3\r\n") << "V1.0.3\r" << "";
    QTest::newRow("blanks stay") << true << QByteArray(" V1.0.3 \n") << " V1.0.3 " << "";
    QTest::newRow("cut at NUL") << true << QByteArray("V1\0.0.3\n", 8) << "V1" << "";
    QTest::newRow("UTF-8") << true << QByteArray("版本2\n") << QString::fromUtf8("版本2") << "";
    QTest::newRow("only a line feed") << true << QByteArray("\n") << "" << "";
    QTest::newRow("empty file") << true << QByteArray() << "" << "Read failed:%1\n";
    QTest::newRow("missing") << false << QByteArray() << "" << "Open failed:%1\n";
}

void TestUtils::readVersion()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(QString, printed);
    TestDevice device;
    if (present)
        device.writeVersionFile(content);
    LogCapture log;
    QString version;
    const QByteArray out = captureStdout([&version] { version = Utils::ReadVersionFromFile(); });

    QCOMPARE(version, expected);
    const QString expectedOut = printed.isEmpty() ? QString() : printed.arg(device.versionFile());
    QCOMPARE(QString::fromLocal8Bit(out), expectedOut);
    QVERIFY(log.lines().isEmpty());
}

void TestUtils::calculateMd5_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short") << QByteArray("abc\n");
    QByteArray large(3 * 1024 * 1024 + 7, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 1000);
    QTest::newRow("many blocks") << large;
}

// The digest and the side file that real md5sum writes agree, so a backup
// written by a medium's script verifies.
void TestUtils::calculateMd5()
{
    QFETCH(QByteArray, content);
    TestDevice device;
    const QString data = device.writeFile(device.root() + QStringLiteral("/data.tar"), content);
    const QString side = data + QStringLiteral(".md5");
    TestSupport::writeSideFile(data, side);

    const QString digest = Utils::calculateFileMD5(data);
    QCOMPARE(digest, TestSupport::md5Of(data));
    QCOMPARE(Utils::extractMD5FromFile(side), digest);
}

void TestUtils::calculateMd5Failure_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing") << "/nothing.tar";
    QTest::newRow("a folder") << "/folder";
}

void TestUtils::calculateMd5Failure()
{
    QFETCH(QString, relative);
    TestDevice device;
    QDir().mkpath(device.root() + QStringLiteral("/folder"));
    const QString path = device.root() + relative;
    LogCapture log;
    QVERIFY(Utils::calculateFileMD5(path).isNull());
    QCOMPARE(log.lines(), QStringList(QStringLiteral("Failed to open file: \"%1\"").arg(path)));
}

void TestUtils::extractMd5_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logged");  // %1: side file path, %2: first line
    const QString digest = QString::fromLatin1(kDigest);
    QTest::newRow("md5sum form") << kDigest + "  data.tar\n" << digest << "";
    QTest::newRow("digest alone, no line feed") << kDigest << digest << "";
    QTest::newRow("CR LF") << kDigest + "  data.tar\r\n" << digest << "";
    QTest::newRow("leading blank") << " " + kDigest + "\n" << digest << "";
    QTest::newRow("further lines ignored") << kDigest + "\nffff\n" << digest << "";
    QTest::newRow("40 characters") << kDigest + "abcdef01\n" << digest << "";
    QTest::newRow("run after an upper-case break") << "0123456789ABCDEF " + kDigest << digest << "";
    QTest::newRow("digest after a label") << "MD5 (data.tar) = " + kDigest + "\n" << digest << "";
    QTest::newRow("upper case") << kDigest.toUpper() + "  data.tar\n" << QString()
                                << "No valid MD5 found in line: \"%2\"";
    QTest::newRow("31 characters") << kDigest.left(31) + "\n" << QString()
                                   << "No valid MD5 found in line: \"%2\"";
    QTest::newRow("digest on the second line") << "\n" + kDigest + "\n" << QString()
                                               << "MD5 file is empty: \"%1\"";
    QTest::newRow("empty file") << QByteArray() << QString() << "MD5 file is empty: \"%1\"";
    QTest::newRow("missing") << QByteArray("-") << QString() << "Failed to open MD5 file: \"%1\"";
}

void TestUtils::extractMd5()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(QString, logged);
    TestDevice device;
    QString side = device.root() + QStringLiteral("/data.tar.md5");
    if (content == "-")
        side = device.root() + QStringLiteral("/none.md5");
    else
        device.writeFile(side, content);
    LogCapture log;

    const QString md5 = Utils::extractMD5FromFile(side);
    QCOMPARE(md5, expected);
    QCOMPARE(md5.isNull(), expected.isNull());
    const QString firstLine = QString::fromLatin1(content).section(QLatin1Char('\n'), 0, 0);
    const QString line = QString(logged).replace(QLatin1String("%1"), side)
                             .replace(QLatin1String("%2"), firstLine);
    QCOMPARE(log.lines(), line.isEmpty() ? QStringList() : QStringList(line));
}

void TestUtils::versionText()
{
    static const QRegularExpression form(QStringLiteral(
        "^Ver: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) \\d{4}"
        "_([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$"));
    const QString text = Utils::getVerStr();
    QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
}

KORVELLO_TEST_MAIN(TestUtils)
#include "tst_utils.moc"
