#include "platform.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

namespace {

// Puts the layer back as KORVELLO_TEST_MAIN left it, whatever a test did.
struct PlatformRestorer
{
    const QString root = Platform::rootPath();
    const QString program = Platform::rebootProgram();
    ~PlatformRestorer()
    {
        Platform::setRootPath(root);
        Platform::setRebootProgram(program);
        Platform::setRebootHandler(nullptr);
        Utils::setSDevType(0);
    }
};

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
    void rebootReachesSystem_data();
    void rebootReachesSystem();
};

void TestPlatform::resolve_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("medium");
    QTest::newRow("device, usb") << "" << 0 << "" << "/mnt/usb/sda1";
    QTest::newRow("device, sd card") << "" << 1 << "" << "/mnt/sdcard/mmcblk1p1";
    QTest::newRow("slash is no prefix") << "/" << 0 << "" << "/mnt/usb/sda1";
    QTest::newRow("simulated") << "/tmp/dev" << 1 << "/tmp/dev" << "/mnt/sdcard/mmcblk1p1";
    QTest::newRow("trailing slashes") << "/tmp/dev//" << 2 << "/tmp/dev" << "/mnt/usb/sda1";
}

// Only strings are built here: nothing under the real /mnt or /etc is touched.
void TestPlatform::resolve()
{
    QFETCH(QString, root);
    QFETCH(int, devType);
    QFETCH(QString, prefix);
    QFETCH(QString, medium);
    PlatformRestorer restorer;
    Platform::setRootPath(root);
    Utils::setSDevType(devType);

    QCOMPARE(Utils::getDevicePath(), prefix + medium);
    QCOMPARE(Platform::resolve(DevicePaths::kVersionFile), prefix + "/etc/version.cfg");
}

void TestPlatform::rebootReachesSystem_data()
{
    QTest::addColumn<QString>("program");  // %1: a folder holding a stub "reboot"
    QTest::addColumn<bool>("handler");
    QTest::addColumn<bool>("reaches");
    QTest::newRow("by PATH") << "reboot" << false << true;
    QTest::newRow("by PATH, with a handler") << "reboot" << true << false;
    QTest::newRow("stub") << "%1/reboot" << false << false;
    QTest::newRow("missing stub") << "%1/none/reboot" << false << false;
    QTest::newRow("link to the system's") << "%1/link" << false << true;
}

void TestPlatform::rebootReachesSystem()
{
    QFETCH(QString, program);
    QFETCH(bool, handler);
    QFETCH(bool, reaches);
    const QString system = QStandardPaths::findExecutable(QStringLiteral("reboot"));
    if (program.endsWith("/link") && system.isEmpty())
        QSKIP("no reboot command on this machine");
    QTemporaryDir dir;
    TestDevice().writeScript(dir.path() + "/reboot", QStringLiteral("exit 0"));
    QFile::link(system, dir.path() + "/link");
    PlatformRestorer restorer;
    Platform::setRebootProgram(program.arg(dir.path()));
    if (handler)
        Platform::setRebootHandler([] {});

    QCOMPARE(Platform::rebootReachesSystem(), reaches);
}

KORVELLO_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
