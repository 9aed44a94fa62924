// The reference scripts of medium/ doing real work: run by the simulator the
// way the device runs them, or started directly where only the script's own
// behaviour is in question. Every case runs with the system's tools or with
// BusyBox's applets alone (and BusyBox's sh), as on the device.

#include "testdevice.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

const char kSnum[] = "A7";
const char kOldStamp[] = "20200101000000";
const int kRunTimeoutMs = 180000;
const int kStopTimeoutMs = 120000;
const qint64 kFatLimit = Q_INT64_C(4294967295);

// The shell the copied scripts name in their first line, and the PATH that
// the simulator and everything it starts get.
struct Toolbox
{
    QString shell;
    QString path;
    QString sync;  // the real sync, for wrappers that stand in front of it
    QString stat;
};

QString dataDir(const TestDevice &device)
{
    return device.root() + QStringLiteral("/data");
}

QString deviceFolder(const TestDevice &device)
{
    return device.runDir() + QStringLiteral("/data/data-") + QLatin1String(kSnum);
}

QString shows(const QString &note)
{
    return QStringLiteral("korvello-sim: the screen shows: ") + note + QLatin1Char('\n');
}

bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(content);
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                               | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                               | QFile::ExeOther);
}

// The device's /bin/sh is BusyBox's: the copy names the shell of the toolbox.
bool installScripts(const TestDevice &device, const Toolbox &tools)
{
    const QDir source(QStringLiteral(KORVELLO_SOURCE_DIR "/medium"));
    const QStringList scripts = source.entryList(QStringList() << QStringLiteral("*.sh"));
    for (const QString &name : scripts) {
        QFile file(source.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QByteArray content = file.readAll();
        content.replace(0, content.indexOf('\n'), "#!" + tools.shell.toLocal8Bit());
        if (!writeExecutable(device.runDir() + QLatin1Char('/') + name, content))
            return false;
    }
    return scripts.size() == 3;
}

void writeSampleData(const TestDevice &device)
{
    const QString data = dataDir(device);
    device.writeFile(data + QStringLiteral("/settings/device.conf"), "brightness=80\nvolume=3\n");
    device.writeFile(data + QStringLiteral("/notes with blanks.txt"), "a\r\nb\n");
    device.writeFile(data + QStringLiteral("/empty"), QByteArray());
    QByteArray binary;
    for (quint32 i = 0; i < 300000; ++i)
        binary.append(char((i * 7919u) >> 3));
    device.writeFile(data + QStringLiteral("/logs/2026/12/run.bin"), binary);
    device.writeFile(data + QStringLiteral("/bin/helper"), "#!/bin/sh\n");
    QFile::setPermissions(data + QStringLiteral("/bin/helper"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                              | QFile::ReadGroup | QFile::ExeGroup);
    QFile::link(QStringLiteral("logs/2026"), data + QStringLiteral("/current"));
    QDir().mkpath(data + QStringLiteral("/spool/empty"));
}

void changeData(const TestDevice &device, const QByteArray &mark)
{
    const QString data = dataDir(device);
    device.writeFile(data + QStringLiteral("/settings/device.conf"), "brightness=" + mark + '\n');
    device.writeFile(data + QStringLiteral("/added-") + QString::fromLatin1(mark), mark);
    QFile::remove(data + QStringLiteral("/empty"));
}

// One line per entry: its kind, permissions and contents or target.
QStringList snapshot(const QString &folder)
{
    QStringList lines;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList paths(folder);
    while (it.hasNext())
        paths << it.next();
    for (const QString &path : paths) {
        const QFileInfo info(path);
        QString line = QDir(folder).relativeFilePath(path) + QLatin1Char(' ')
                       + QString::number(int(info.permissions()), 16) + QLatin1Char(' ');
        if (info.isSymLink()) {
            line += QStringLiteral("-> ") + info.symLinkTarget();
        } else if (info.isDir()) {
            line += QStringLiteral("dir");
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            line += QString::fromLatin1(
                QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex());
        }
        lines << line;
    }
    lines.sort();
    return lines;
}

QProcessEnvironment environment(const TestDevice &device, const QString &path)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("snum"), QLatin1String(kSnum));
    env.insert(QStringLiteral("PATH"), path);
    env.insert(QStringLiteral("KORVELLO_SIM_ROOT"), device.root());
    return env;
}

void startSim(QProcess &sim, const TestDevice &device, int control, const QString &path)
{
    QProcessEnvironment env = environment(device, path);
    env.remove(QStringLiteral("KORVELLO_SIM_ROOT"));  // the simulator's own to set
    sim.setProcessEnvironment(env);
    sim.setProcessChannelMode(QProcess::MergedChannels);
    TestSupport::startExecutable(sim, QStringLiteral(KORVELLO_SIM_BIN),
                                 QStringList() << QStringLiteral("--root") << device.root()
                                               << QStringLiteral("-platform")
                                               << QStringLiteral("offscreen")
                                               << QStringLiteral("-c")
                                               << QString::number(control));
}

// Every job ends in the simulated reboot, which ends the simulator with 0.
bool waitForReboot(QProcess &sim, QString *output)
{
    const bool finished = sim.waitForFinished(kRunTimeoutMs);
    *output = QString::fromUtf8(sim.readAll());
    return finished && sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0
           && output->contains(QStringLiteral("the simulated device reboots now"));
}

bool runSim(const TestDevice &device, int control, const QString &path, QString *output)
{
    QProcess sim;
    startSim(sim, device, control, path);
    return waitForReboot(sim, output);
}

void startScript(QProcess &script, const TestDevice &device, const QString &path,
                 const QString &name, const QStringList &arguments)
{
    script.setProcessEnvironment(environment(device, path));
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(device.runDir() + QLatin1Char('/') + name, arguments);
}

// The exit code, or -1 when the script did not end by itself.
int runScript(const TestDevice &device, const QString &path, const QString &name,
              const QStringList &arguments, QString *output = nullptr)
{
    QProcess script;
    startScript(script, device, path, name, arguments);
    const bool finished = script.waitForFinished(kRunTimeoutMs);
    if (output)
        *output = QString::fromUtf8(script.readAll());
    return finished && script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1;
}

QStringList backupArguments(const TestDevice &device, const QString &stamp, int index)
{
    return QStringList() << QLatin1String(kSnum) << stamp << QString::number(index)
                         << device.runDir() + QStringLiteral("/data");
}

QString archiveName(const QString &stamp, int index)
{
    return QStringLiteral("data-%1-%2-%3.tar").arg(QLatin1String(kSnum), stamp).arg(index);
}

// The real md5sum accepts the side file, run where the archive lies.
bool md5sumAccepts(const QString &folder, const QString &sideFile)
{
    QProcess md5sum;
    md5sum.setWorkingDirectory(folder);
    md5sum.start(QStringLiteral("md5sum"), QStringList() << QStringLiteral("-c") << sideFile);
    return md5sum.waitForFinished(kRunTimeoutMs) && md5sum.exitStatus() == QProcess::NormalExit
           && md5sum.exitCode() == 0;
}

QStringList entriesIn(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList(QStringList() << pattern,
                                  QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A stand-in for one of the scripts' commands, put in front of the toolbox.
bool writeWrapper(const QString &folder, const QString &name, const Toolbox &tools,
                  const QString &body)
{
    return writeExecutable(folder + QLatin1Char('/') + name,
                           "#!" + tools.shell.toLocal8Bit() + '\n' + body.toLocal8Bit() + '\n');
}

// A sync that stops for good at its n-th call, as the power would go at that
// moment: it leaves "PID of the script, its own PID" in `stopped`.
bool writeSyncStopper(const QString &folder, const Toolbox &tools, int n)
{
    return writeWrapper(
        folder, QStringLiteral("sync"), tools,
        QStringLiteral("n=$(( $(cat '%1/count' 2>/dev/null || echo 0) + 1 ))\n"
                       "echo \"$n\" > '%1/count'\n"
                       "if [ \"$n\" -eq %2 ]; then\n"
                       "    echo \"$PPID $$\" > '%1/stopped.new'\n"
                       "    mv '%1/stopped.new' '%1/stopped'\n"
                       "    exec sleep 600\n"
                       "fi\n"
                       "exec '%3' \"$@\"")
            .arg(folder)
            .arg(n)
            .arg(tools.sync));
}

// The script and the stopped sync end as a power cut would end them: no
// trap of the script runs.
bool cutPower(const QString &folder)
{
    const QList<QByteArray> pids
        = readAll(folder + QStringLiteral("/stopped")).simplified().split(' ');
    if (pids.size() != 2)
        return false;
    return ::kill(pids.at(0).toInt(), SIGKILL) == 0 && ::kill(pids.at(1).toInt(), SIGKILL) == 0;
}

} // namespace

class TestScripts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void backupThenRestore_data();
    void backupThenRestore();
    void interruptedBackup_data();
    void interruptedBackup();
    void interruptedRestoration_data();
    void interruptedRestoration();
    void restorationPutsOldDataBackFirst();
    void upgrade_data();
    void upgrade();
    void upgradeRefused_data();
    void upgradeRefused();
    void backupRefused_data();
    void backupRefused();

private:
    void addToolboxColumn();
    Toolbox toolbox(const QString &name) const;
    QString makePackage(const TestDevice &device, const QString &maker, const QString &version,
                        const QString &hook, const QString &extraPayload = QString());

    QTemporaryDir mBusyBoxDir;
    Toolbox mSystem;
    Toolbox mBusyBox;
};

// A folder of links to BusyBox, one per applet, is the whole PATH of the
// BusyBox rows. Nothing that can power the machine down gets a link.
void TestScripts::initTestCase()
{
    mSystem.shell = QStringLiteral("/bin/sh");
    mSystem.path = QString::fromLocal8Bit(qgetenv("PATH"));
    mSystem.sync = QStandardPaths::findExecutable(QStringLiteral("sync"));
    mSystem.stat = QStandardPaths::findExecutable(QStringLiteral("stat"));

    const QString busybox = QStandardPaths::findExecutable(QStringLiteral("busybox"));
    QVERIFY2(!busybox.isEmpty(), "busybox is missing; scripts/install-deps.sh installs it");
    QProcess list;
    list.start(busybox, QStringList() << QStringLiteral("--list"));
    QVERIFY(list.waitForFinished(kRunTimeoutMs));
    QStringList applets
        = QString::fromLatin1(list.readAllStandardOutput()).split(QLatin1Char('\n'));
    applets.removeAll(QString());
    QVERIFY(applets.contains(QStringLiteral("tar")));
    const QStringList never = {QStringLiteral("reboot"), QStringLiteral("halt"),
                               QStringLiteral("poweroff"), QStringLiteral("init"),
                               QStringLiteral("linuxrc")};
    for (const QString &applet : applets) {
        if (!never.contains(applet))
            QVERIFY(QFile::link(busybox, mBusyBoxDir.filePath(applet)));
    }
    mBusyBox.shell = mBusyBoxDir.filePath(QStringLiteral("sh"));
    mBusyBox.path = mBusyBoxDir.path();
    mBusyBox.sync = mBusyBoxDir.filePath(QStringLiteral("sync"));
    mBusyBox.stat = mBusyBoxDir.filePath(QStringLiteral("stat"));
}

void TestScripts::addToolboxColumn()
{
    QTest::addColumn<QString>("tools");
}

Toolbox TestScripts::toolbox(const QString &name) const
{
    return name == QLatin1String("busybox") ? mBusyBox : mSystem;
}

void TestScripts::backupThenRestore_data()
{
    addToolboxColumn();
    QTest::newRow("system tools") << "system";
    QTest::newRow("BusyBox alone") << "busybox";
}

void TestScripts::backupThenRestore()
{
    QFETCH(QString, tools);
    const Toolbox box = toolbox(tools);
    TestDevice device;
    QVERIFY(installScripts(device, box));
    writeSampleData(device);
    const QStringList backedUp = snapshot(dataDir(device));

    QString output;
    QVERIFY2(runSim(device, 1, box.path, &output), qPrintable(output));
    QVERIFY2(output.contains(shows(QStringLiteral(" 備份成功 "))), qPrintable(output));
    const QString folder = deviceFolder(device);
    const QStringList archives = entriesIn(folder, QStringLiteral("*"));
    QCOMPARE(archives.size(), 2);
    QVERIFY2(archives.first().endsWith(QLatin1String("-1.md5")), qPrintable(archives.first()));
    QVERIFY(md5sumAccepts(folder, archives.first()));

    changeData(device, "changed");
    QVERIFY(snapshot(dataDir(device)) != backedUp);

    QVERIFY2(runSim(device, 2, box.path, &output), qPrintable(output));
    QVERIFY2(output.contains(shows(QStringLiteral("數據還原成功"))), qPrintable(output));
    QCOMPARE(snapshot(dataDir(device)), backedUp);
    QCOMPARE(entriesIn(device.root(), QStringLiteral("data.*")), QStringList());
}

void TestScripts::interruptedBackup_data()
{
    addToolboxColumn();
    QTest::addColumn<int>("stopAtSync");
    QTest::addColumn<bool>("archivePublished");
    // The script syncs before and after each of its two renames.
    QTest::newRow("archive written, BusyBox") << "busybox" << 1 << false;
    QTest::newRow("side file written, system tools") << "system" << 3 << true;
}

void TestScripts::interruptedBackup()
{
    QFETCH(QString, tools);
    QFETCH(int, stopAtSync);
    QFETCH(bool, archivePublished);
    const Toolbox box = toolbox(tools);
    TestDevice device;
    QVERIFY(installScripts(device, box));
    writeSampleData(device);
    const QStringList firstBackup = snapshot(dataDir(device));
    QCOMPARE(runScript(device, box.path, QStringLiteral("backup_script.sh"),
                       backupArguments(device, QLatin1String(kOldStamp), 1)),
             0);
    changeData(device, "second");

    QTemporaryDir wrappers;
    QVERIFY(writeSyncStopper(wrappers.path(), box, stopAtSync));
    QProcess sim;
    startSim(sim, device, 1, wrappers.path() + QLatin1Char(':') + box.path);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(wrappers.filePath(QStringLiteral("stopped"))),
                             kStopTimeoutMs);
    QVERIFY(cutPower(wrappers.path()));
    QString output;
    QVERIFY2(waitForReboot(sim, &output), qPrintable(output));

    // Nothing of the second backup carries a final name with wrong contents.
    const QString folder = deviceFolder(device);
    QCOMPARE(entriesIn(folder, QStringLiteral("*-2.md5")), QStringList());
    const QStringList archives = entriesIn(folder, QStringLiteral("*-2.tar"));
    QCOMPARE(archives.size(), archivePublished ? 1 : 0);
    if (archivePublished) {
        const QStringList sides = entriesIn(folder, QStringLiteral("*-2.md5.part"));
        QCOMPARE(sides.size(), 1);
        QCOMPARE(readAll(folder + QLatin1Char('/') + sides.first()).left(32),
                 TestSupport::md5Of(folder + QLatin1Char('/') + archives.first()).toLatin1());
    } else {
        QCOMPARE(entriesIn(folder, QStringLiteral("*-2.tar.part")).size(), 1);
    }

    changeData(device, "third");
    QVERIFY2(runSim(device, 2, box.path, &output), qPrintable(output));
    QVERIFY2(output.contains(shows(QStringLiteral("數據還原成功"))), qPrintable(output));
    const QString firstArchive = archiveName(QLatin1String(kOldStamp), 1);
    QVERIFY2(output.contains(firstArchive + QStringLiteral(" (index 1)")), qPrintable(output));
    QCOMPARE(snapshot(dataDir(device)), firstBackup);
}

void TestScripts::interruptedRestoration_data()
{
    addToolboxColumn();
    QTest::addColumn<int>("stopAtSync");
    QTest::addColumn<bool>("newDataIn");
    // The script syncs after unpacking and after the swap.
    QTest::newRow("unpacked, BusyBox") << "busybox" << 1 << false;
    QTest::newRow("swapped, BusyBox") << "busybox" << 2 << true;
    QTest::newRow("unpacked, system tools") << "system" << 1 << false;
}

void TestScripts::interruptedRestoration()
{
    QFETCH(QString, tools);
    QFETCH(int, stopAtSync);
    QFETCH(bool, newDataIn);
    const Toolbox box = toolbox(tools);
    TestDevice device;
    QVERIFY(installScripts(device, box));
    writeSampleData(device);
    const QStringList backedUp = snapshot(dataDir(device));
    QCOMPARE(runScript(device, box.path, QStringLiteral("backup_script.sh"),
                       backupArguments(device, QLatin1String(kOldStamp), 1)),
             0);
    changeData(device, "later");
    const QStringList current = snapshot(dataDir(device));
    const QStringList arguments
        = QStringList() << QLatin1String(kSnum) << archiveName(QLatin1String(kOldStamp), 1)
                        << QStringLiteral("1") << device.runDir() + QStringLiteral("/data");

    QTemporaryDir wrappers;
    QVERIFY(writeSyncStopper(wrappers.path(), box, stopAtSync));
    QProcess script;
    startScript(script, device, wrappers.path() + QLatin1Char(':') + box.path,
                QStringLiteral("recover_script.sh"), arguments);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(wrappers.filePath(QStringLiteral("stopped"))),
                             kStopTimeoutMs);
    QVERIFY(cutPower(wrappers.path()));
    QVERIFY(script.waitForFinished(kRunTimeoutMs));
    QCOMPARE(snapshot(dataDir(device)), newDataIn ? backedUp : current);

    QString output;
    QCOMPARE(runScript(device, box.path, QStringLiteral("recover_script.sh"), arguments, &output),
             0);
    QCOMPARE(snapshot(dataDir(device)), backedUp);
    QCOMPARE(entriesIn(device.root(), QStringLiteral("data.*")), QStringList());
}

// Cut between the swap's two renames, the device has no data folder at all;
// the next run puts the old data back before it even looks at its archive.
void TestScripts::restorationPutsOldDataBackFirst()
{
    TestDevice device;
    QVERIFY(installScripts(device, mBusyBox));
    writeSampleData(device);
    const QStringList old = snapshot(dataDir(device));
    QVERIFY(QDir().rename(dataDir(device), dataDir(device) + QStringLiteral(".old")));
    device.writeFile(dataDir(device) + QStringLiteral(".new/half"), "x");
    const QString folder = deviceFolder(device);
    QVERIFY(TestSupport::makeTar(folder + QStringLiteral("/data-A7-1-1.tar"), "archive"));
    device.writeFile(folder + QStringLiteral("/data-A7-1-1.md5"),
                     "0123456789abcdef0123456789abcdef  data-A7-1-1.tar\n");

    QString output;
    QCOMPARE(runScript(device, mBusyBox.path, QStringLiteral("recover_script.sh"),
                       QStringList() << QLatin1String(kSnum) << QStringLiteral("data-A7-1-1.tar")
                                     << QStringLiteral("1")
                                     << device.runDir() + QStringLiteral("/data"),
                       &output),
             4);
    QVERIFY2(output.contains(QStringLiteral("its side file says")), qPrintable(output));
    QCOMPARE(snapshot(dataDir(device)), old);
    QCOMPARE(entriesIn(device.root(), QStringLiteral("data.*")), QStringList());
}

// Lays out a package folder (payload/ and install.sh) and packs it into the
// medium's run/upgrade with its side file. Returns the package's path.
QString TestScripts::makePackage(const TestDevice &device, const QString &maker,
                                 const QString &version, const QString &hook,
                                 const QString &extraPayload)
{
    QTemporaryDir source;
    source.setAutoRemove(false);
    device.writeFile(source.filePath(QStringLiteral("payload/opt/app/app.txt")), "new app\n");
    if (!extraPayload.isEmpty())
        device.writeFile(source.filePath(QStringLiteral("payload/") + extraPayload), "V9\n");
    if (!hook.isEmpty())
        device.writeFile(source.filePath(QStringLiteral("install.sh")), hook.toUtf8());
    const QString folder = device.runDir() + QStringLiteral("/upgrade");
    const QString package = folder + QStringLiteral("/update-") + version + QStringLiteral(".tar");
    QDir().mkpath(folder);
    if (maker == QLatin1String("pack-upgrade")) {
        QStringList arguments = QStringList()
                                << QStringLiteral("pack-upgrade") << QStringLiteral("--version")
                                << version << QStringLiteral("--payload")
                                << source.filePath(QStringLiteral("payload"));
        if (!hook.isEmpty())
            arguments << QStringLiteral("--hook") << source.filePath(QStringLiteral("install.sh"));
        QProcess tool;
        TestSupport::startExecutable(tool, QStringLiteral(KORVELLO_MEDIUM_BIN),
                                     arguments << device.medium());
        tool.waitForFinished(kRunTimeoutMs);
    } else {
        QStringList members(QStringLiteral("payload"));
        if (!hook.isEmpty())
            members << QStringLiteral("install.sh");
        QProcess::execute(QStringLiteral("tar"), QStringList() << QStringLiteral("-cf") << package
                                                               << QStringLiteral("-C")
                                                               << source.path() << members);
        TestSupport::writeSideFile(package, package + QStringLiteral(".md5"));
    }
    QDir(source.path()).removeRecursively();
    return package;
}

void TestScripts::upgrade_data()
{
    addToolboxColumn();
    QTest::addColumn<QString>("maker");
    QTest::newRow("tar, system tools") << "system" << "tar";
    QTest::newRow("tar, BusyBox") << "busybox" << "tar";
    QTest::newRow("pack-upgrade, BusyBox") << "busybox" << "pack-upgrade";
}

void TestScripts::upgrade()
{
    QFETCH(QString, tools);
    QFETCH(QString, maker);
    const Toolbox box = toolbox(tools);
    TestDevice device;
    QVERIFY(installScripts(device, box));
    device.writeVersionFile("V1.0\nbuild 17\n");
    device.writeFile(device.root() + QStringLiteral("/opt/app/app.txt"), "old app\n");
    const QString package = makePackage(
        device, maker, QStringLiteral("V2.0"),
        QStringLiteral("mkdir -p \"$KORVELLO_SIM_ROOT/var/lib/app\" || exit 1\n"
                       "printf '%s %s\\n' \"${1##*/}\" \"$2\" \\\n"
                       "    > \"$KORVELLO_SIM_ROOT/var/lib/app/hooked\"\n"));
    QVERIFY(QFileInfo::exists(package + QStringLiteral(".md5")));

    QString output;
    QVERIFY2(runSim(device, 3, box.path, &output), qPrintable(output));
    QVERIFY2(output.contains(shows(QStringLiteral("升級成功"))), qPrintable(output));
    QCOMPARE(readAll(device.versionFile()), QByteArray("V2.0\nbuild 17\n"));
    QCOMPARE(readAll(device.root() + QStringLiteral("/opt/app/app.txt")), QByteArray("new app\n"));
    QCOMPARE(readAll(device.root() + QStringLiteral("/var/lib/app/hooked")),
             QByteArray("update-V2.0.tar V2.0\n"));
    QCOMPARE(QDir(device.root() + QStringLiteral("/etc")).entryList(QDir::Files | QDir::Hidden),
             QStringList(QStringLiteral("version.cfg")));
}

// The script refuses, and the version file, which says whether an upgrade
// happened, stays as it was.
void TestScripts::upgradeRefused_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("hook");
    QTest::addColumn<QString>("extraPayload");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("hook fails") << "V2.0" << "exit 3" << "" << 1 << "install.sh of";
    QTest::newRow("payload carries the version file")
        << "V2.0" << "" << "etc/version.cfg" << 7 << "carries etc/version.cfg";
    QTest::newRow("no version in the name")
        << "" << "" << "" << 7 << "no version in the package name";
}

void TestScripts::upgradeRefused()
{
    QFETCH(QString, version);
    QFETCH(QString, hook);
    QFETCH(QString, extraPayload);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    TestDevice device;
    QVERIFY(installScripts(device, mBusyBox));
    device.writeVersionFile("V1.0\n");
    const QString package = makePackage(device, QStringLiteral("tar"), version, hook, extraPayload);

    QString output;
    QCOMPARE(runScript(device, mBusyBox.path, QStringLiteral("upgrade_script.sh"),
                       QStringList() << QLatin1String(kSnum) << QFileInfo(package).fileName()
                                     << QStringLiteral("0") << QFileInfo(package).path(),
                       &output),
             exitCode);
    QVERIFY2(output.contains(message), qPrintable(output));
    QCOMPARE(readAll(device.versionFile()), QByteArray("V1.0\n"));
}

void TestScripts::backupRefused_data()
{
    addToolboxColumn();
    QTest::addColumn<bool>("fat");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("exitCode");
    const QString room = QStringLiteral("not enough free space on the medium");
    const QString fat = QStringLiteral("a FAT medium holds files below 4 GiB");
    QTest::newRow("no room, system tools") << "system" << false << room << 5;
    QTest::newRow("no room, BusyBox") << "busybox" << false << room << 5;
    QTest::newRow("FAT, system tools") << "system" << true << fat << 6;
    QTest::newRow("FAT, BusyBox") << "busybox" << true << fat << 6;
}

// Data that would not fit is faked by a sparse file: it takes no room, but
// tar would write all of it. A tar that refuses to run keeps a broken check
// from filling the disk. No FAT medium can be mounted here, so a stat in
// front of the toolbox gives the kernel's answer for one.
void TestScripts::backupRefused()
{
    QFETCH(QString, tools);
    QFETCH(bool, fat);
    QFETCH(QString, message);
    QFETCH(int, exitCode);
    const Toolbox box = toolbox(tools);
    TestDevice device;
    QVERIFY(installScripts(device, box));
    writeSampleData(device);
    qint64 size = kFatLimit + 1;
    if (!fat) {
        size = QStorageInfo(device.medium()).bytesAvailable() + Q_INT64_C(1) * 1024 * 1024 * 1024;
        if (size > Q_INT64_C(8) * 1024 * 1024 * 1024 * 1024)
            QSKIP("the temporary folder has too much free room to fake data that exceeds it");
    }
    QFile big(dataDir(device) + QStringLiteral("/big.img"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(size));
    big.close();

    QTemporaryDir wrappers;
    QVERIFY(writeWrapper(wrappers.path(), QStringLiteral("tar"), box,
                         QStringLiteral("echo 'tar must not run' >&2; exit 99")));
    if (fat) {
        QVERIFY(writeWrapper(wrappers.path(), QStringLiteral("stat"), box,
                             QStringLiteral("if [ \"$1 $2 $3\" = '-f -c %t' ]; then\n"
                                            "    echo 4d44\n"
                                            "    exit 0\n"
                                            "fi\n"
                                            "exec '%1' \"$@\"")
                                 .arg(box.stat)));
    }

    QString output;
    QVERIFY2(runSim(device, 1, wrappers.path() + QLatin1Char(':') + box.path, &output),
             qPrintable(output));
    QVERIFY2(output.contains(message), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("Exit Code: %1").arg(exitCode)), qPrintable(output));
    const QString busyNote = QStringLiteral("數據備份中，請稍後...");
    QVERIFY2(output.contains(shows(busyNote)), qPrintable(output));
    QVERIFY(!output.contains(QStringLiteral("tar must not run")));
    QCOMPARE(entriesIn(deviceFolder(device), QStringLiteral("*")), QStringList());
}

KORVELLO_TEST_MAIN(TestScripts)
#include "tst_scripts.moc"
