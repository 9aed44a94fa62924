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

// What a call writes to the process's own standard output.
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
    QTest::newRow("type 2") << false << 2 << true;
    QTest::newRow("type 3") << false << 3 << false;
    QTest::newRow("type -1") << false << -1 << false;
    QTest::newRow("type INT_MIN") << false << INT_MIN << false;
    QTest::newRow("control 3") << true << 3 << true;
    QTest::newRow("control 4") << true << 4 << false;
    QTest::newRow("control -1") << true << -1 << false;
}

// Refused values leave the profile at 0 and write nothing.
void TestUtils::profileSetters()
{
    QFETCH(bool, control);
    QFETCH(int, value);
    QFETCH(bool, stored);
    LogCapture log;
    control ? Utils::setSDevControlType(value) : Utils::setSDevType(value);

    QCOMPARE(control ? Utils::getSDevControlType() : Utils::getSDevType(), stored ? value : 0);
    const QString line = QStringLiteral("===  %1   %2")
                             .arg(control ? "setSDevControlType" : "setSDevType").arg(value);
    QCOMPARE(log.lines(), stored ? QStringList(line) : QStringList());
}

void TestUtils::storageRoot_data()
{
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("root");
    QTest::addColumn<int>("upgradeDirOn");  // medium with run/upgrade; -1 none, 9 a plain file
    QTest::addColumn<bool>("exists");
    QTest::newRow("usb") << 0 << "/mnt/usb/sda1" << 0 << true;
    QTest::newRow("sd card") << 1 << "/mnt/sdcard/mmcblk1p1" << 1 << true;
    QTest::newRow("sd card, folder on usb") << 1 << "/mnt/sdcard/mmcblk1p1" << 0 << false;
    QTest::newRow("type 2 is usb") << 2 << "/mnt/usb/sda1" << 0 << true;
    QTest::newRow("no folder") << 0 << "/mnt/usb/sda1" << -1 << false;
    QTest::newRow("a file") << 0 << "/mnt/usb/sda1" << 9 << false;
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
    LogCapture log;

    QCOMPARE(Utils::getDevicePath(), device.root() + root);
    QCOMPARE(Utils::checkUpgradeDirExists(), exists);
    QVERIFY(log.lines().isEmpty());
    QVERIFY(upgradeDirOn != -1 || !QFileInfo::exists(device.root() + root + "/run"));
}

void TestUtils::readVersion_data()
{
    QTest::addColumn<QByteArray>("content");  // "-": no file
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("printed");     // %1: the file's path
    QTest::newRow("first line") << QByteArray("V1.0.3\nV9\n") << "V1.0.3" << "";
    QTest::newRow("no final line feed") << QByteArray("V1.0.3") << "V1.0." << "";
    QTest::newRow("CR LF keeps the CR") << QByteArray("V1.0.3\r\n") << "V1.0.3\r" << "";
    QTest::newRow("blanks stay") << QByteArray(" V1.0.3 \n") << " V1.0.3 " << "";
    QTest::newRow("cut at NUL") << QByteArray("V1\0.0.3\n", 8) << "V1" << "";
    QTest::newRow("UTF-8") << QByteArray("版本2\n") << QString::fromUtf8("版本2") << "";
    QTest::newRow("only a line feed") << QByteArray("\n") << "" << "";
    QTest::newRow("empty file") << QByteArray("") << "" << "Read failed:%1\n";
    QTest::newRow("missing") << QByteArray("-") << "" << "Open failed:%1\n";
}

// The two failures go to standard output, not to the debug stream.
void TestUtils::readVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(QString, printed);
    TestDevice device;
    if (content != "-")
        device.writeVersionFile(content);
    LogCapture log;
    QString version;
    const QByteArray out = captureStdout([&version] { version = Utils::ReadVersionFromFile(); });

    QCOMPARE(version, expected);
    QCOMPARE(QString::fromLocal8Bit(out), printed.isEmpty() ? "" : printed.arg(device.versionFile()));
    QVERIFY(log.lines().isEmpty());
}

void TestUtils::calculateMd5_data()
{
    QTest::addColumn<QByteArray>("content");  // "-": no file, "/": a folder
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("short") << QByteArray("abc\n");
    QByteArray large(3 * 1024 * 1024 + 7, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 1000);
    QTest::newRow("many blocks") << large;
    QTest::newRow("missing") << QByteArray("-");
    QTest::newRow("a folder") << QByteArray("/");
}

// The digest agrees with real md5sum, and so does the side file md5sum wrote.
void TestUtils::calculateMd5()
{
    QFETCH(QByteArray, content);
    TestDevice device;
    const QString data = device.root() + QStringLiteral("/data.tar");
    if (content == "/")
        QDir().mkpath(data);
    else if (content != "-")
        device.writeFile(data, content);
    LogCapture log;
    const QString digest = Utils::calculateFileMD5(data);

    if (content == "-" || content == "/") {
        QVERIFY(digest.isNull());
        QCOMPARE(log.lines(), QStringList(QStringLiteral("Failed to open file: \"%1\"").arg(data)));
        return;
    }
    QCOMPARE(digest, TestSupport::md5Of(data));
    TestSupport::writeSideFile(data, data + ".md5");
    QCOMPARE(Utils::extractMD5FromFile(data + ".md5"), digest);
}

void TestUtils::extractMd5_data()
{
    QTest::addColumn<QByteArray>("content");  // "-": no file
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logged");      // %1: side file, %2: first line
    const QString digest = QString::fromLatin1(kDigest);
    const QString noDigest = QStringLiteral("No valid MD5 found in line: \"%2\"");
    const QString empty = QStringLiteral("MD5 file is empty: \"%1\"");
    QTest::newRow("md5sum form") << kDigest + "  data.tar\n" << digest << "";
    QTest::newRow("alone, no line feed") << kDigest << digest << "";
    QTest::newRow("CR LF") << kDigest + "  data.tar\r\n" << digest << "";
    QTest::newRow("leading blank") << " " + kDigest + "\n" << digest << "";
    QTest::newRow("40 characters") << kDigest + "abcdef01\n" << digest << "";
    QTest::newRow("after a label") << "MD5 (data.tar) = " + kDigest << digest << "";
    QTest::newRow("after an upper-case run") << "0123456789ABCDEF0123456789ABCDEF " + kDigest
                                             << digest << "";
    QTest::newRow("upper case") << kDigest.toUpper() + "  data.tar\n" << QString() << noDigest;
    QTest::newRow("31 characters") << kDigest.left(31) + "\n" << QString() << noDigest;
    QTest::newRow("second line") << "\n" + kDigest + "\n" << QString() << empty;
    QTest::newRow("empty file") << QByteArray("") << QString() << empty;
    QTest::newRow("missing") << QByteArray("-") << QString() << "Failed to open MD5 file: \"%1\"";
}

void TestUtils::extractMd5()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(QString, logged);
    TestDevice device;
    const QString side = device.root() + QStringLiteral("/data.tar.md5");
    if (content != "-")
        device.writeFile(side, content);
    LogCapture log;

    const QString md5 = Utils::extractMD5FromFile(side);
    QCOMPARE(md5, expected);
    QCOMPARE(md5.isNull(), expected.isNull());
    const QString firstLine = QString::fromLatin1(content).section(QLatin1Char('\n'), 0, 0);
    const QString line = QString(logged).replace("%1", side).replace("%2", firstLine);
    QCOMPARE(log.lines(), line.isEmpty() ? QStringList() : QStringList(line));
}

void TestUtils::versionText()
{
    static const QRegularExpression form(QStringLiteral(
        "^Ver: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) \\d{4}"
        "_([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$"));
    QVERIFY2(form.match(Utils::getVerStr()).hasMatch(), qPrintable(Utils::getVerStr()));
}

KORVELLO_TEST_MAIN(TestUtils)
#include "tst_utils.moc"
