// The reference scripts of medium/ doing real work: run by the simulator the
// way the device runs them, or started directly where only the script's own
// behaviour is in question. Every case runs with the system's tools or with
// BusyBox's applets alone (and BusyBox's sh), as on the device.

#include "testdevice.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int kRunTimeoutMs = 180000;

QString shows(const QString &note)
{
    return QStringLiteral("korvello-sim: the screen shows: ") + note + QLatin1Char('\n');
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString makeExecutable(const QString &path)
{
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList entriesIn(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern},
                                  QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Every entry's path, permissions, type and link target, then every file's
// digest, each list sorted.
QByteArray snapshot(const QString &folder)
{
    QProcess find;
    find.setWorkingDirectory(folder);
    find.start(QStringLiteral("sh"), {"-c", "find . -printf '%p %m %y %l\\n' | sort && "
                                            "find . -type f -exec md5sum {} + | sort"});
    find.waitForFinished(kRunTimeoutMs);
    return find.readAllStandardOutput();
}

// A simulated device A7 with the reference scripts on its medium, sample
// data in /data and a toolbox on PATH, after a folder for stand-ins of
// single commands.
class Fixture
{
public:
    Fixture(const QString &tools, const QString &busyBoxDir)
    {
        const bool busyBox = tools == QLatin1String("busybox");
        mPath = busyBox ? busyBoxDir : QString::fromLocal8Bit(qgetenv("PATH"));
        mShell = busyBox ? busyBoxDir + QStringLiteral("/sh") : QStringLiteral("/bin/sh");
        // The device's /bin/sh is BusyBox's: each copy names the toolbox's shell.
        const QDir source(QStringLiteral(KORVELLO_SOURCE_DIR "/medium"));
        for (const QString &name : source.entryList({QStringLiteral("*.sh")})) {
            QByteArray content = readAll(source.filePath(name));
            content.replace(0, content.indexOf('\n'), "#!" + mShell.toLocal8Bit());
            makeExecutable(device.writeFile(device.runDir() + QLatin1Char('/') + name, content));
        }
        device.writeFile(data() + QStringLiteral("/notes with blanks.txt"), "a\r\nb\n");
        device.writeFile(data() + QStringLiteral("/empty"), QByteArray());
        const QByteArray bytes = QCryptographicHash::hash("run", QCryptographicHash::Sha512);
        device.writeFile(data() + QStringLiteral("/logs/2026/12/run.bin"), bytes.repeated(5000));
        makeExecutable(device.writeFile(data() + QStringLiteral("/bin/helper"), "#!/bin/sh\n"));
        QFile::link(QStringLiteral("logs/2026"), data() + QStringLiteral("/current"));
        QDir().mkpath(data() + QStringLiteral("/spool/empty"));
    }

    TestDevice device;

    QString data() const { return device.root() + QStringLiteral("/data"); }
    QString folder() const { return device.runDir() + QStringLiteral("/data/data-A7"); }

    void changeData(const QByteArray &mark) const
    {
        device.writeFile(data() + QStringLiteral("/added-") + QString::fromLatin1(mark), mark);
        QFile::remove(data() + QStringLiteral("/empty"));
    }

    // A stand-in for one command; `%1` in its body is the toolbox's own.
    void wrap(const QString &command, const QString &body) const
    {
        const QString real
            = QStandardPaths::findExecutable(command, mPath.split(QLatin1Char(':')));
        const QString script = QString(body).replace(QStringLiteral("%1"), real);
        makeExecutable(device.writeFile(mWrappers.filePath(command),
                                        "#!" + (mShell + '\n' + script).toLocal8Bit()));
    }

    // At its n-th call the command ends its caller and itself as a power cut
    // would end them, so no trap of the script runs.
    void cutPowerAt(const QString &command, int call) const
    {
        wrap(command, QStringLiteral("n=$(( $(cat '%2' 2>/dev/null || echo 0) + 1 ))\n"
                                     "echo $n > '%2'\n"
                                     "[ $n -ne %3 ] || kill -9 $PPID $$\n"
                                     "exec '%1' \"$@\"\n")
                          .replace(QStringLiteral("%2"), mWrappers.filePath(command + ".calls"))
                          .replace(QStringLiteral("%3"), QString::number(call)));
    }

    // Runs the simulator with {"-c", N}, or a script of run/ with its
    // arguments; the simulator sets KORVELLO_SIM_ROOT again itself. Returns
    // the output, which for a job ends with the note the simulated reboot
    // prints, and gives the exit code or -1 when it did not end by itself.
    QString run(const QStringList &command, int *exitCode = nullptr) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("snum"), QStringLiteral("A7"));
        env.insert(QStringLiteral("PATH"), mWrappers.path() + QLatin1Char(':') + mPath);
        env.insert(QStringLiteral("KORVELLO_SIM_ROOT"), device.root());
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (command.first() != QLatin1String("-c"))
            process.start(device.runDir() + QLatin1Char('/') + command.first(), command.mid(1));
        else
            TestSupport::startExecutable(process, QStringLiteral(KORVELLO_SIM_BIN),
                                         QStringList{"--root", device.root(), "-platform",
                                                     "offscreen"} + command);
        const bool finished = process.waitForFinished(kRunTimeoutMs);
        if (exitCode)
            *exitCode = finished && process.exitStatus() == QProcess::NormalExit
                            ? process.exitCode() : -1;
        return QString::fromUtf8(process.readAll());
    }

private:
    QString mShell;
    QString mPath;
    QTemporaryDir mWrappers;
};

} // namespace

class TestScripts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void backupThenRestore_data();
    void backupThenRestore();
    void interruptedRestoration_data();
    void interruptedRestoration();
    void upgrade_data();
    void upgrade();
    void backupRefused_data();
    void backupRefused();

private:
    QTemporaryDir mBusyBoxDir;
};

// A folder of links to BusyBox, one per applet, is the whole PATH of the
// BusyBox rows. Nothing that can power the machine down gets a link.
void TestScripts::initTestCase()
{
    const QString busybox = QStandardPaths::findExecutable(QStringLiteral("busybox"));
    QVERIFY2(!busybox.isEmpty(), "busybox is missing; scripts/install-deps.sh installs it");
    QProcess list;
    list.start(busybox, {QStringLiteral("--list")});
    QVERIFY(list.waitForFinished(kRunTimeoutMs));
    const QStringList never = {"reboot", "halt", "poweroff", "init", "linuxrc"};
    for (const QByteArray &applet : list.readAllStandardOutput().split('\n')) {
        const QString name = QString::fromLatin1(applet);
        if (!name.isEmpty() && !never.contains(name))
            QVERIFY(QFile::link(busybox, mBusyBoxDir.filePath(name)));
    }
    QVERIFY(QFileInfo::exists(mBusyBoxDir.filePath(QStringLiteral("tar"))));
}

void TestScripts::backupThenRestore_data()
{
    QTest::addColumn<QString>("tools");
    QTest::addColumn<int>("cutAtSync");
    QTest::addColumn<int>("archivesPublished");
    // The backup script syncs before and after each of its two renames.
    QTest::newRow("system tools, cut as the side file is published") << "system" << 3 << 1;
    QTest::newRow("BusyBox alone, cut as the archive is published") << "busybox" << 1 << 0;
}

// A backup; a second one cut short by a power loss, which leaves nothing
// under a final name that is not whole; a restoration that passes over what
// the cut left and gives back the first backup's data.
void TestScripts::backupThenRestore()
{
    QFETCH(QString, tools);
    QFETCH(int, cutAtSync);
    QFETCH(int, archivesPublished);
    const Fixture fixture(tools, mBusyBoxDir.path());
    const QByteArray backedUp = snapshot(fixture.data());
    QString output = fixture.run({"-c", "1"});
    QVERIFY2(output.contains(shows(QStringLiteral(" 備份成功 "))), qPrintable(output));
    const QString md5sumCheck = QStringLiteral("cd \"$0\" && md5sum -c *.md5 > /dev/null");
    QCOMPARE(QProcess::execute("sh", {"-c", md5sumCheck, fixture.folder()}), 0);

    fixture.changeData("second");
    fixture.cutPowerAt(QStringLiteral("sync"), cutAtSync);
    fixture.run({"-c", "1"});
    QCOMPARE(entriesIn(fixture.folder(), QStringLiteral("*-2.md5")), QStringList());
    QCOMPARE(entriesIn(fixture.folder(), QStringLiteral("*-2.tar")).size(), archivesPublished);

    fixture.changeData("third");
    output = fixture.run({"-c", "2"});
    QVERIFY2(output.contains(shows(QStringLiteral("數據還原成功"))), qPrintable(output));
    QCOMPARE(snapshot(fixture.data()), backedUp);
    QCOMPARE(entriesIn(fixture.device.root(), QStringLiteral("data.*")), QStringList());
}

void TestScripts::interruptedRestoration_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("afterCut");
    // The script syncs after unpacking and after the swap, which is two renames.
    QTest::newRow("cut after unpacking") << "sync" << 1 << "old";
    QTest::newRow("cut between the swap's renames") << "mv" << 2 << "none";
    QTest::newRow("cut after the swap") << "sync" << 2 << "new";
}

// Cut anywhere, a restoration leaves the old data or the new, never a mix.
// The next run, even one that then refuses its archive, first puts the old
// data back where the cut left none, and clears what the cut left over.
void TestScripts::interruptedRestoration()
{
    QFETCH(QString, command);
    QFETCH(int, call);
    QFETCH(QString, afterCut);
    const Fixture fixture(QStringLiteral("busybox"), mBusyBoxDir.path());
    const QString backups = fixture.device.runDir() + QStringLiteral("/data");
    QMap<QString, QByteArray> data = {{"new", snapshot(fixture.data())}, {"none", ""}};
    int exitCode = -1;
    fixture.run({"backup_script.sh", "A7", "20200101000000", "1", backups}, &exitCode);
    QCOMPARE(exitCode, 0);
    fixture.changeData("later");
    data.insert(QStringLiteral("old"), snapshot(fixture.data()));

    const QStringList recover = {"recover_script.sh", "A7", "data-A7-20200101000000-1.tar", "1",
                                 backups};
    fixture.cutPowerAt(command, call);
    fixture.run(recover, &exitCode);
    QCOMPARE(exitCode, -1);
    QCOMPARE(snapshot(fixture.data()), data.value(afterCut));

    fixture.device.writeFile(fixture.folder() + QStringLiteral("/data-A7-20200101000000-1.md5"),
                             QByteArray(32, '0') + '\n');
    fixture.run(recover, &exitCode);
    QCOMPARE(exitCode, 4);
    QCOMPARE(snapshot(fixture.data()), data.value(afterCut == "new" ? "new" : "old"));
    QCOMPARE(entriesIn(fixture.device.root(), QStringLiteral("data.*")), QStringList());
}

void TestScripts::upgrade_data()
{
    QTest::addColumn<QString>("tools");
    QTest::addColumn<QString>("hook");
    QTest::addColumn<QString>("extraPayload");
    QTest::addColumn<QString>("refusal"); // empty: the upgrade succeeds
    // Run in the device's "/", so var/ is the device's.
    const QString hook = QStringLiteral("mkdir -p var && echo \"${1##*/} $2\" > var/hooked");
    QTest::newRow("system tools") << "system" << hook << "" << "";
    QTest::newRow("BusyBox alone") << "busybox" << hook << "" << "";
    QTest::newRow("hook fails") << "busybox" << "exit 3" << "" << "install.sh of";
    QTest::newRow("payload carries the version file")
        << "busybox" << hook << "etc/version.cfg" << "carries etc/version.cfg";
}

// A package made by pack-upgrade: its payload lands on the device, its hook
// runs there with the package and the version, and the version is written
// last, its other lines kept. A refused package leaves the version alone, so
// that the tool's second version check tells the upgrade failed; what the
// tool does then is the same as for any failing script, so refusals run the
// script alone.
void TestScripts::upgrade()
{
    QFETCH(QString, tools);
    QFETCH(QString, hook);
    QFETCH(QString, extraPayload);
    QFETCH(QString, refusal);
    const Fixture fixture(tools, mBusyBoxDir.path());
    const TestDevice &device = fixture.device;
    device.writeVersionFile("V1.0\nbuild 17\n");
    device.writeFile(device.root() + QStringLiteral("/opt/app.txt"), "old app\n");
    const QString source = device.root() + QStringLiteral("/source");
    device.writeFile(source + QStringLiteral("/payload/opt/app.txt"), "new app\n");
    device.writeFile(source + QStringLiteral("/install.sh"), hook.toUtf8());
    QProcess tool;
    TestSupport::startExecutable(tool, QStringLiteral(KORVELLO_MEDIUM_BIN),
                                 {"pack-upgrade", "--version", "V2.0", "--payload",
                                  source + QStringLiteral("/payload"), "--hook",
                                  source + QStringLiteral("/install.sh"), device.medium()});
    QVERIFY(tool.waitForFinished(kRunTimeoutMs) && tool.exitCode() == 0);
    const QString package = device.runDir() + QStringLiteral("/upgrade/update-V2.0.tar");
    if (!extraPayload.isEmpty()) {
        // A package made by hand: pack-upgrade would not take this payload.
        device.writeFile(source + QStringLiteral("/payload/") + extraPayload, "V9\n");
        QCOMPARE(QProcess::execute("tar", {"-rf", package, "-C", source, "payload/etc"}), 0);
        TestSupport::writeSideFile(package, package + QStringLiteral(".md5"));
    }

    if (!refusal.isEmpty()) {
        const QString output = fixture.run(
            {"upgrade_script.sh", "A7", "update-V2.0.tar", "0", QFileInfo(package).path()});
        QVERIFY2(output.contains(refusal), qPrintable(output));
        QCOMPARE(readAll(device.versionFile()), QByteArray("V1.0\nbuild 17\n"));
        return;
    }
    const QString output = fixture.run({"-c", "3"});
    QVERIFY2(output.contains(shows(QStringLiteral("升級成功"))), qPrintable(output));
    QCOMPARE(readAll(device.versionFile()), QByteArray("V2.0\nbuild 17\n"));
    QCOMPARE(readAll(device.root() + QStringLiteral("/opt/app.txt")), QByteArray("new app\n"));
    QCOMPARE(readAll(device.root() + QStringLiteral("/var/hooked")),
             QByteArray("update-V2.0.tar V2.0\n"));
    QCOMPARE(entriesIn(device.root() + QStringLiteral("/etc"), "*"), QStringList("version.cfg"));
}

void TestScripts::backupRefused_data()
{
    QTest::addColumn<QString>("tools");
    QTest::addColumn<bool>("fat");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("exitCode");
    const QString room = QStringLiteral("not enough free space on the medium");
    QTest::newRow("no room, system tools") << "system" << false << room << 5;
    QTest::newRow("no room, BusyBox") << "busybox" << false << room << 5;
    QTest::newRow("FAT, BusyBox") << "busybox" << true << "a FAT medium holds files below 4 GiB"
                                  << 6;
}

// Data that would not fit is faked by a sparse file: it takes no room, but
// tar would write all of it, so a tar that refuses to run keeps a broken check
// from filling the disk. No FAT medium can be mounted here: a stat in front
// of the toolbox gives the kernel's answer for one.
void TestScripts::backupRefused()
{
    QFETCH(QString, tools);
    QFETCH(bool, fat);
    QFETCH(QString, message);
    QFETCH(int, exitCode);
    const Fixture fixture(tools, mBusyBoxDir.path());
    qint64 size = Q_INT64_C(4294967296);
    if (!fat)
        size = QStorageInfo(fixture.device.medium()).bytesAvailable() + (Q_INT64_C(1) << 30);
    if (size > (Q_INT64_C(8) << 40))
        QSKIP("the temporary folder has too much free room to fake data that exceeds it");
    QFile big(fixture.data() + QStringLiteral("/big.img"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(size));
    big.close();
    fixture.wrap(QStringLiteral("tar"), QStringLiteral("echo 'tar must not run' >&2; exit 99"));
    if (fat)
        fixture.wrap(QStringLiteral("stat"), QStringLiteral("[ \"$1 $2 $3\" != '-f -c %t' ] "
                                                            "|| { echo 4d44; exit 0; }\n"
                                                            "exec '%1' \"$@\"\n"));

    // The tool skips its check of the files and counts down to the reboot.
    const QString output = fixture.run({"-c", "1"});
    QVERIFY2(output.contains(message), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("Exit Code: %1").arg(exitCode)), qPrintable(output));
    QVERIFY2(output.contains(shows(QStringLiteral("數據備份中，請稍後..."))), qPrintable(output));
}

KORVELLO_TEST_MAIN(TestScripts)
#include "tst_scripts.moc"
