#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <sys/stat.h>
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
    sink.seek(0);
    return sink.readAll();
}

// Puts a FIFO ("fifo"), a link to /dev/zero ("zero") or to a regular kernel
// file that states no size yet yields bytes ("kernel") at path, or writes
// content.
void place(const TestDevice &device, const QString &path, const QByteArray &content)
{
    if (content == "kernel")
        QFile::link(QStringLiteral("/proc/self/status"), path);
    else if (content == "fifo")
        mkfifo(QFile::encodeName(path).constData(), 0644);
    else if (content == "zero")
        QFile::link(QStringLiteral("/dev/zero"), path);
    else if (content != "-")
        device.writeFile(path, content);
}

} // namespace

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void readVersion_data();
    void readVersion();
    void md5_data();
    void md5();
    void versionText();
};

void TestUtils::readVersion_data()
{
    QTest::addColumn<QByteArray>("content");  // "-": no file
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("printed");     // %1: the file's path
    QTest::newRow("first line") << QByteArray("V1.0.3\nV9\n") << "V1.0.3" << "";
    QTest::newRow("no final line feed") << QByteArray("V1.0.3") << "V1.0." << "";
    QTest::newRow("blanks and CR stay") << QByteArray(" V1.0.3 \r\n") << " V1.0.3 \r" << "";
    QTest::newRow("cut at NUL") << QByteArray("V1\0.0.3\n", 8) << "V1" << "";
    QTest::newRow("UTF-8") << QByteArray("版本2\n") << QString::fromUtf8("版本2") << "";
    QTest::newRow("only a line feed") << QByteArray("\n") << "" << "";
    QTest::newRow("empty file") << QByteArray("") << "" << "Read failed:%1\n";
    QTest::newRow("missing") << QByteArray("-") << "" << "Open failed:%1\n";
    QTest::newRow("a FIFO") << QByteArray("fifo") << "" << "Open failed:%1\n";
    QTest::newRow("a link to /dev/zero") << QByteArray("zero") << "" << "Open failed:%1\n";
    QTest::newRow("a link to a kernel file") << QByteArray("kernel") << "" << "Read failed:%1\n";
    QTest::newRow("a first line beyond the bound") << QByteArray(5000, 'v') << QString(4095, 'v')
                                                  << "First line cut at 4096 bytes:%1\n";
}

// The two failures go to standard output, not to the debug stream.
void TestUtils::readVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(QString, printed);
    TestDevice device;
    QDir().mkpath(QFileInfo(device.versionFile()).path());
    place(device, device.versionFile(), content);
    LogCapture log;
    QString version;
    const QByteArray out = captureStdout([&version] { version = Utils::ReadVersionFromFile(); });

    QCOMPARE(version, expected);
    QCOMPARE(QString::fromLocal8Bit(out), QString(printed).replace("%1", device.versionFile()));
    QVERIFY(log.lines().isEmpty());
}

void TestUtils::md5_data()
{
    QTest::addColumn<QByteArray>("data");     // "-": no data file; "fifo", "zero" (see place)
    QTest::addColumn<QByteArray>("side");     // the same, or "md5sum": what md5sum writes
    QTest::addColumn<QString>("expected");    // "md5sum": md5sum's digest of the data
    QTest::addColumn<QStringList>("logged");  // %1: data file, %2: side file, %3: its first line
    QByteArray large(3 * 1024 * 1024 + 7, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 1000);
    const QByteArray sum = "md5sum";
    const QStringList noDigest = {"No valid MD5 found in line: \"%3\""};
    const QStringList unopened = {"Failed to open file: \"%1\"", "Failed to open MD5 file: \"%2\""};
    QTest::newRow("md5sum, empty data") << QByteArray("") << sum << "md5sum" << QStringList();
    QTest::newRow("md5sum, many blocks") << large << sum << "md5sum" << QStringList();
    QTest::newRow("upper case, CR LF") << QByteArray() << kDigest.toUpper() + "  data.tar\r\n"
                                       << QString() << noDigest;
    QTest::newRow("31 characters") << QByteArray() << kDigest.left(31) + "\n" << QString()
                                   << noDigest;
    QTest::newRow("second line") << QByteArray() << "\n" + kDigest + "\n" << QString()
                                 << QStringList{"MD5 file is empty: \"%2\""};
    QTest::newRow("a long line, logged cut") << QByteArray() << QByteArray(5000, 'x') << QString()
        << QStringList{"No valid MD5 found in line: \"" + QString(4096, 'x')
                       + "\" [cut: 5000 characters in all]"};
    QTest::newRow("missing") << QByteArray("-") << QByteArray("-") << QString() << unopened;
    QTest::newRow("FIFOs") << QByteArray("fifo") << QByteArray("fifo") << QString() << unopened;
    QTest::newRow("links to /dev/zero") << QByteArray("zero") << QByteArray("zero") << QString()
                                        << unopened;
    QTest::newRow("links to a kernel file") << QByteArray("kernel") << QByteArray("kernel")
        << QString() << QStringList{"Failed to calculate MD5: \"%1\"", "MD5 file is empty: \"%2\""};
}

// The digest of the data agrees with real md5sum's; the side file's digest is
// the first run of 32 lowercase hexadecimal characters in its first line.
// Anything but a regular file is never read: it could block or never end.
void TestUtils::md5()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, side);
    QFETCH(QString, expected);
    QFETCH(QStringList, logged);
    TestDevice device;
    const QString dataPath = device.root() + QStringLiteral("/data.tar");
    const QString sidePath = dataPath + QStringLiteral(".md5");
    place(device, dataPath, data);
    const bool regular = data != "kernel" && QFileInfo(dataPath).isFile();
    const QString sum = regular ? QString::fromLatin1(TestSupport::md5sumLine(dataPath).left(32))
                                : QString();
    place(device, sidePath, side == "md5sum" ? TestSupport::md5sumLine(dataPath) : side);
    if (expected == "md5sum")
        expected = sum;
    LogCapture log;

    const QString calculated = Utils::calculateFileMD5(dataPath);
    QCOMPARE(calculated, sum);
    QCOMPARE(calculated.isNull(), !regular);
    const QString extracted = Utils::extractMD5FromFile(sidePath);
    QCOMPARE(extracted, expected);
    QCOMPARE(extracted.isNull(), expected.isNull());
    const QString firstLine = QString::fromLatin1(side).section(QRegularExpression("\r?\n"), 0, 0);
    logged.replaceInStrings("%1", dataPath).replaceInStrings("%2", sidePath);
    QCOMPARE(log.lines(), logged.replaceInStrings("%3", firstLine));
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
