#include "platform.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QtTest>

namespace {

// Puts the platform layer back as KORVELLO_TEST_MAIN left it, whatever a
// test did to it: a stub reboot and the guard root.
class PlatformRestorer
{
public:
    PlatformRestorer()
        : mRoot(Platform::rootPath())
        , mProgram(Platform::rebootProgram())
    {
    }
    ~PlatformRestorer()
    {
        Platform::setRootPath(mRoot);
        Platform::setRebootProgram(mProgram);
        Platform::setRebootHandler(nullptr);
    }

private:
    QString mRoot;
    QString mProgram;
};

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void resolve_data();
    void resolve();
    void rebootReachesSystem_data();
    void rebootReachesSystem();
    void rebootRunsStubOnce();
};

void TestPlatform::cleanup()
{
    Utils::setSDevType(0);
}

void TestPlatform::resolve_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<int>("devType");
    QTest::addColumn<QString>("expected");
    QTest::newRow("device, usb") << "" << 0 << "/mnt/usb/sda1";
    QTest::newRow("device, sd card") << "" << 1 << "/mnt/sdcard/mmcblk1p1";
    QTest::newRow("slash is no prefix") << "/" << 0 << "/mnt/usb/sda1";
    QTest::newRow("simulated") << "/tmp/dev" << 1 << "/tmp/dev/mnt/sdcard/mmcblk1p1";
    QTest::newRow("trailing slashes") << "/tmp/dev//" << 2 << "/tmp/dev/mnt/usb/sda1";
}

// Only strings are built here: nothing under the real /mnt is touched.
void TestPlatform::resolve()
{
    QFETCH(QString, root);
    QFETCH(int, devType);
    QFETCH(QString, expected);
    PlatformRestorer restorer;
    Platform::setRootPath(root);
    Utils::setSDevType(devType);

    QCOMPARE(Utils::getDevicePath(), expected);
    const QString prefix = expected.left(expected.indexOf(QLatin1String("/mnt")));
    QCOMPARE(Platform::resolve(QLatin1String(DevicePaths::kVersionFile)),
             prefix + QStringLiteral("/etc/version.cfg"));
}

void TestPlatform::rebootReachesSystem_data()
{
    QTest::addColumn<QString>("program");  // %1: a temporary folder
    QTest::addColumn<bool>("handler");
    QTest::addColumn<bool>("reaches");
    QTest::newRow("default") << "reboot" << false << true;
    QTest::newRow("by PATH, with a handler") << "reboot" << true << false;
    QTest::newRow("stub") << "%1/reboot" << false << false;
    QTest::newRow("missing stub") << "%1/none/reboot" << false << false;
    QTest::newRow("link to the system's") << "%1/link" << false << true;
    QTest::newRow("the system's own") << "/usr/sbin/reboot" << false << true;
}

void TestPlatform::rebootReachesSystem()
{
    QFETCH(QString, program);
    QFETCH(bool, handler);
    QFETCH(bool, reaches);
    const QString system = QStandardPaths::findExecutable(QStringLiteral("reboot"));
    if (reaches && program.startsWith(QLatin1Char('/')) && !QFileInfo::exists(program))
        QSKIP("no reboot command on this machine");
    QTemporaryDir dir;
    QFile stub(dir.path() + QStringLiteral("/reboot"));
    QVERIFY(stub.open(QIODevice::WriteOnly));
    stub.write("#!/bin/sh\nexit 0\n");
    stub.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    stub.close();
    if (program.endsWith(QLatin1String("/link"))) {
        if (system.isEmpty())
            QSKIP("no reboot command on this machine");
        QFile::link(system, dir.path() + QStringLiteral("/link"));
    }
    PlatformRestorer restorer;
    Platform::setRebootProgram(program.arg(dir.path()));
    if (handler)
        Platform::setRebootHandler([] {});

    QCOMPARE(Platform::rebootReachesSystem(), reaches);
}

void TestPlatform::rebootRunsStubOnce()
{
    const int before = TestSupport::rebootCount();
    Platform::reboot();
    QCOMPARE(TestSupport::rebootCount(), before + 1);

    PlatformRestorer restorer;
    int handled = 0;
    Platform::setRebootHandler([&handled] { ++handled; });
    Platform::reboot();
    QCOMPARE(handled, 1);
    QCOMPARE(TestSupport::rebootCount(), before + 1);
}

KORVELLO_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
