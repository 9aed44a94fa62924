#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void extractMd5_data();
    void extractMd5();
};

void TestUtils::extractMd5_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    const QByteArray digest = "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("md5sum form") << digest + "  data.tar\n" << QString::fromLatin1(digest);
    QTest::newRow("digest alone") << digest << QString::fromLatin1(digest);
    QTest::newRow("upper case") << digest.toUpper() + "\n" << QString();
    QTest::newRow("empty first line") << "\n" + digest + "\n" << QString();
}

void TestUtils::extractMd5()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    TestDevice device;
    const QString side = device.writeFile(device.root() + QStringLiteral("/x.md5"), content);
    QCOMPARE(Utils::extractMD5FromFile(side), expected);
}

KORVELLO_TEST_MAIN(TestUtils)
#include "tst_utils.moc"
