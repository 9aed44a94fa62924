// The reference scripts of medium/ doing real work, run by the simulator or directly, with the
// system's tools or BusyBox's alone, as on the device. Power cuts, FAT32 and a full medium are
// proven on real file systems in the emulated device (scripts/device-vm.sh suite, powercut.sh).

#include "regularfile.h"
#include "testdevice.h"
#include "utils.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <unistd.h>

namespace {

const int kRunTimeoutMs = 180000;

// Whether the job ended on `note`: the last one the simulator printed
// before its countdown began (where run() stops watching it).
bool endsOn(const QString &output, const QString &note)
{
    const QString lead = QStringLiteral("korvello-sim: note: ");
    return output.mid(output.lastIndexOf(lead) + lead.size()).section('\n', 0, 0) == note;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString md5Of(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Md5).toHex();
}

QStringList entriesIn(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern},
                                  QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Every entry's path, permissions, type and link target, then every file's
// digest, each list sorted; a device's medium and temporary folder left out.
QByteArray snapshot(const QString &folder)
{
    QProcess find;
    find.setWorkingDirectory(folder);
    find.start(QStringLiteral("sh"), {"-c", "f() { find . -mindepth 1 \\( -path ./mnt -o -path "
                                            "./tmp \\) -prune -o \"$@\"; } && f -printf '%p %m %y "
                                            "%l\\n' | sort && f -type f -exec md5sum {} + | sort"});
    find.waitForFinished(kRunTimeoutMs);
    return find.readAllStandardOutput();
}

// Commands a word puts before the system's tools (BusyBox may prefer its own): a df that finds
// no room off the medium, an mv that does not rename new files over their targets.
const QHash<QString, QString> kShims = {
    {"df", "case $2 in */mnt/*) PATH=${PATH#*:} exec df \"$@\" ;; esac; echo 'x 1024-blocks"
           " Used Available Capacity Mounted on'; echo 'x 9 9 0 99% /'"},
    {"mv", "case $2 in *.korvello-new) exit 0 ;; esac; PATH=${PATH#*:} exec mv \"$@\""},
};

// A simulated device with the reference scripts on its medium, sample data
// in /data and a toolbox on PATH: the system's or BusyBox's, with shims.
class Fixture
{
public:
    Fixture(const QString &tools, const QString &busyBoxDir, const QString &snum = "A7")
        : mSnum(snum)
    {
        const bool busyBox = tools.split(QLatin1Char(' ')).contains(QLatin1String("busybox"));
        mPath = busyBox ? busyBoxDir : QString::fromLocal8Bit(qgetenv("PATH"));
        mShell = busyBox ? busyBoxDir + QStringLiteral("/sh") : QStringLiteral("/bin/sh");
        // The scripts as korvello-medium prepares a medium; the device's
        // /bin/sh is BusyBox's, so each names the toolbox's shell.
        QProcess prepare;
        TestSupport::startExecutable(prepare, QStringLiteral(KORVELLO_MEDIUM_BIN),
                                     {QStringLiteral("prepare"), device.medium()});
        prepare.waitForFinished(kRunTimeoutMs);
        for (const QString &name : entriesIn(device.runDir(), QStringLiteral("*.sh"))) {
            QByteArray content = readAll(device.runDir() + QLatin1Char('/') + name);
            content.replace(0, content.indexOf('\n'), "#!" + mShell.toLocal8Bit());
            device.writeFile(device.runDir() + QLatin1Char('/') + name, content);
        }
        device.writeFile(data() + QStringLiteral("/notes with blanks.txt"), "a\r\nb\n");
        device.writeFile(data() + QStringLiteral("/empty"), QByteArray());
        const QByteArray bytes = QCryptographicHash::hash("run", QCryptographicHash::Sha512);
        device.writeFile(data() + QStringLiteral("/logs/2026/12/run.bin"), bytes.repeated(5000));
        device.writeScript(data() + QStringLiteral("/bin/helper"), QString());
        QFile::link(QStringLiteral("logs/2026"), data() + QStringLiteral("/current"));
        QDir().mkpath(data() + QStringLiteral("/spool/empty"));
        for (const QString &word : tools.split(' ').filter(QRegularExpression("^(df|mv)$"))) {
            device.writeScript(device.medium() + "/shims/" + word, kShims[word]);
            mPath.prepend(device.medium() + QStringLiteral("/shims:"));
        }
    }

    TestDevice device;
    // The host's temporary folder as the scripts see it: under the simulator
    // nothing of theirs belongs there.
    QTemporaryDir hostTemp;

    QString data() const { return device.root() + QStringLiteral("/data"); }
    QString folder() const { return device.runDir() + QStringLiteral("/data/data-") + mSnum; }

    // Runs the simulator with {"-c", N} until its countdown shows, the job
    // done, or a script of run/ with its arguments; the simulator sets
    // KORVELLO_SIM_ROOT again itself. Returns the output and gives the
    // script's exit code, or -1 when it did not end by itself.
    QString run(const QStringList &command, int *exitCode = nullptr,
                int timeoutMs = kRunTimeoutMs) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("snum"), mSnum);
        env.insert(QStringLiteral("PATH"), mPath);
        env.insert(QStringLiteral("KORVELLO_SIM_ROOT"), device.root());
        env.insert(QStringLiteral("TMPDIR"), hostTemp.path());
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (command.first() == QLatin1String("-c"))
            return TestSupport::runChild(process, QStringLiteral(KORVELLO_SIM_BIN),
                                         QStringList{"--root", device.root(), "-platform",
                                                     "offscreen"} + command,
                                         QStringLiteral("second line: 5秒後自動重啟"), timeoutMs);
        process.start(device.runDir() + QLatin1Char('/') + command.first(), command.mid(1));
        const bool finished = process.waitForFinished(timeoutMs);
        if (exitCode)
            *exitCode = finished && process.exitStatus() == QProcess::NormalExit
                            ? process.exitCode() : -1;
        return QString::fromUtf8(process.readAll());
    }

private:
    QString mSnum;
    QString mShell;
    QString mPath;
};

// Lays words under a folder: "P" a file, "P/" a folder (in place of a file),
// "P>T" a symbolic link to T. A file holds its path after the prefix.
void layWords(const TestDevice &device, const QString &folder, const QStringList &words,
              const QByteArray &prefix)
{
    for (const QString &word : words) {
        const QString path = folder + QLatin1Char('/') + word.section(QLatin1Char('>'), 0, 0);
        if (word.contains(QLatin1Char('>')) && QDir().mkpath(QFileInfo(path).path()))
            QFile::link(word.section(QLatin1Char('>'), 1), path);
        else if (word.endsWith(QLatin1Char('/')) && (QFile::remove(path.chopped(1)) || true))
            QDir().mkpath(path);
        else
            device.writeFile(path, prefix + word.toUtf8() + '\n');
    }
}

// Hooks by word, any other word a command. "cut" ends its upgrade script as
// a power cut would, once; then it fails. Marks stay on the medium.
const QHash<QString, QString> kHooks = {
    {"once", "[ -e mnt/once ] || { : > mnt/once; exit 1; }"},
    {"cut", "[ -e mnt/cut ] && exit 1; : > mnt/cut; p=$PPID; while [ \"$p\" -gt 1 ]; do grep -q "
            "upgrade_script /proc/$p/cmdline && s=\"$s $p\"; read -r _ _ _ p _ < /proc/$p/stat; "
            "done; kill -KILL $s"},
};

} // namespace

class TestScripts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void backupThenRestore_data();
    void backupThenRestore();
    void upgrade_data();
    void upgrade();
    void backupOffMedium_data();
    void backupOffMedium();
    void sideFileForms_data();
    void sideFileForms();
    void history_data();
    void history();

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
    QTest::addColumn<QString>("snum");
    QTest::addColumn<QString>("ends"); // the restoration's exit code and reason in the history
    // GNU md5sum marks the digest of a name with a backslash, CR or LF.
    QTest::newRow("system tools, an odd serial") << "system" << "-\\1\r\nB" << "0\tdone";
    QTest::newRow("BusyBox alone, an odd serial") << "busybox" << "-H\\c\n" << "0\tdone";
    QTest::newRow("no room to restore") << "system df" << "A7" << "5\tnot enough room";
    QTest::newRow("/data a link by then") << "busybox link" << "A7"
                                          << "9\tit conflicts with what stands on the device";
}

// A backup that md5sum confirms, and a restoration that gives its data back
// after the data changed, leaving no working folder beside /data.
void TestScripts::backupThenRestore()
{
    QFETCH(QString, tools);
    QFETCH(QString, snum);
    QFETCH(QString, ends);
    const QString restored = ends.startsWith('0') ? "數據還原成功" : "數據還原失敗";
    const Fixture fixture(tools, mBusyBoxDir.path(), snum);
    const QByteArray backedUp = snapshot(fixture.data());
    QString output = fixture.run({"-c", "1"});
    QVERIFY2(endsOn(output, QStringLiteral(" 備份成功 ")), qPrintable(output));
    const QString archive = fixture.folder() + "/" + entriesIn(fixture.folder(), "*.tar").value(0);
    QCOMPARE(readAll(archive.chopped(4) + ".md5").left(32), md5Of(archive).toLatin1());

    fixture.device.writeFile(fixture.data() + QStringLiteral("/added"), "later");
    QFile::remove(fixture.data() + QStringLiteral("/empty"));
    // Renames cannot swap a link for the data it leads to.
    const QString real = fixture.device.root() + QStringLiteral("/real-data");
    QVERIFY(!tools.endsWith("link")
            || (QDir().rename(fixture.data(), real) && QFile::link(real, fixture.data())));
    const QByteArray changed = snapshot(fixture.data());
    output = fixture.run({"-c", "2"});
    QVERIFY2(endsOn(output, restored), qPrintable(output));
    QCOMPARE(snapshot(fixture.data()), restored == "數據還原成功" ? backedUp : changed);
    QCOMPARE(entriesIn(fixture.device.root(), QStringLiteral("data.*")), QStringList());
    // Each job's line in the medium's history, with the bytes it moved.
    // The log is named by the serial with every other byte than [A-Za-z0-9._-] as '_'.
    const QString log = QString(snum).replace(QRegularExpression("[^A-Za-z0-9._-]"), "_");
    const QString history = readAll(fixture.device.runDir() + "/log/" + log + ".log");
    QVERIFY2(history.contains(QRegularExpression("\tbackup\t0\tdone\t[1-9].*\n.*\trestore\t"
                                                 + ends + "\t[1-9]")), qPrintable(history));
}

void TestScripts::upgrade_data()
{
    // Tools (see Fixture) and device laid from words, then packages "VERSION EXIT HOOK PAYLOAD..."
    // laid alike: EXIT "tool" runs the simulator, which must show 升級成功; "cut" is a power cut.
    QTest::addColumn<QStringList>("story");
    const QString good = QStringLiteral("V2.0 tool true opt/app.txt opt/new/tool opt/ln>app.txt");
    // dash's echo would end the refusal's line at the "\\c".
    QTest::newRow("file where the package has a folder, then a good package")
        << QStringList{"opt/th\\cing", "V2.0 9 true opt/th\\cing/bin/tool", good};
    QTest::newRow("folder where the package has a file")
        << QStringList{"busybox opt/thing/ opt/a", "V2.0 9 true opt/a opt/thing"};
    QTest::newRow("link on the way")
        << QStringList{"busybox opt/lib>thing opt/thing/", "V2 9 true opt/lib/x"};
    QTest::newRow("version file a folder") << QStringList{"etc/version.cfg/", "V2.0 9 true a"};
    QTest::newRow("full device") << QStringList{"df", "V2.0 5 true opt/a"};
    QTest::newRow("hook fails after placement")
        << QStringList{"busybox opt/app.txt opt/x>app.txt", "V2.0 1 false opt/app.txt opt/x opt/y"};
    QTest::newRow("placement that does not hold")
        << QStringList{"mv opt/app.txt", "V2.0 1 true opt/app.txt opt/b"};
    QTest::newRow("same package retried") << QStringList{
        "opt/app.txt", "V2.0 1 once opt/app.txt opt/b", "V2.0 0 once opt/app.txt opt/b"};
    QTest::newRow("cut, then a stage that cannot finish")
        << QStringList{"busybox opt/app.txt", "V2.0 cut cut opt/app.txt opt/new/tool", good};
    QTest::newRow("backslashes and a dash in names")
        << QStringList{"", "V2\\1\\c 0 true -o/\\x -o/\\y>\\x"};
}

// Packages in turn: a success leaves the device as it was with the payload over it and the
// version written, other lines kept; a failure leaves it exactly as it was, even after a cut.
void TestScripts::upgrade()
{
    QFETCH(QStringList, story);
    const Fixture fixture(story[0], mBusyBoxDir.path());
    const TestDevice &dev = fixture.device;
    const QString upgrade = dev.runDir() + QStringLiteral("/upgrade");
    const QString source = dev.medium() + QStringLiteral("/source");
    const QTemporaryDir settled;
    dev.writeVersionFile("V1.0\nbuild 17\n");
    layWords(dev, dev.root(), story[0].split(' ').filter(QRegularExpression("[/>]")), "old ");
    QCOMPARE(QProcess::execute("cp", {"-a", dev.root() + "/.", settled.path()}), 0);
    for (const QString &package : story.mid(1)) {
        const QStringList words = package.split(QLatin1Char(' '));
        const QString name = "update-" + words[0] + ".tar";
        QDir(source).removeRecursively() && QDir(upgrade).removeRecursively();
        layWords(dev, source + QStringLiteral("/payload"), words.mid(3), words[0].toUtf8() + ' ');
        dev.writeFile(source + "/install.sh", kHooks.value(words[2], words[2]).toUtf8());
        QCOMPARE(QProcess::execute("sh", {"-c", "mkdir \"${0%/*}\" && tar -cf \"$0\" -C \"$1\" "
                                   "payload install.sh && md5sum < \"$0\" > \"$0.md5\"",
                                   upgrade + "/" + name, source}), 0);
        int exitCode = words[1] == "tool" ? 0 : -1;
        const QString output = words[1] == "tool" ? fixture.run({"-c", "3"})
            : fixture.run({"upgrade_script.sh", "A7", name, "0", upgrade}, &exitCode);
        if (words[1] == "cut")
            continue;
        QVERIFY2(words[1] == "tool" ? endsOn(output, QStringLiteral("升級成功"))
                                    : exitCode == words[1].toInt(), qPrintable(output));
        // A conflict's line names the device's first laid entry, byte for byte.
        const QString first = story[0].split(' ').filter(QRegularExpression("[/>]")).value(0);
        QVERIFY2(exitCode != 9 || output.contains("conflict: /" + first.section('>', 0, 0)
                                                  .remove(QRegularExpression("/$")) + " is"),
                 qPrintable(output));
        if (!exitCode && !QProcess::execute("cp", {"-a", source + "/payload/.", settled.path()}))
            dev.writeFile(settled.path() + "/etc/version.cfg", words[0].toUtf8() + "\nbuild 17\n");
        QCOMPARE(snapshot(dev.root()), snapshot(settled.path()));
    }
    const QRegularExpression notQtRuntime(QStringLiteral("^(?!runtime-)"));
    QCOMPARE(entriesIn(fixture.hostTemp.path(), "*").filter(notQtRuntime), QStringList());
}

void TestScripts::backupOffMedium_data()
{
    QTest::addColumn<QString>("folder"); // under the medium's run/
    QTest::addColumn<int>("target"); // where its symbolic link leads: a Medium::Off
    QTest::newRow("run/data elsewhere") << "data" << int(Medium::Elsewhere);
    QTest::newRow("run/data leads nowhere") << "data" << int(Medium::Nowhere);
    QTest::newRow("device folder elsewhere") << "data/data-A7" << int(Medium::Elsewhere);
}

// A folder the backup would write into that resolves off the medium is
// refused before anything is written there. FAT has no symbolic links, so
// this is proven here and not on the emulated device's media.
void TestScripts::backupOffMedium()
{
    QFETCH(QString, folder);
    QFETCH(int, target);
    const Fixture fixture(QStringLiteral("busybox"), mBusyBoxDir.path());
    fixture.device.lay(Medium().link("run/" + folder, Medium::Off(target)), QStringLiteral("A7"));

    int exitCode = -1;
    const QString output = fixture.run({"backup_script.sh", "A7", "20200101000000", "1",
                                        fixture.device.runDir() + "/data"}, &exitCode);
    QCOMPARE(exitCode, 8);
    QVERIFY2(output.contains(QStringLiteral("the medium")), qPrintable(output));
    QCOMPARE(QDir(fixture.device.elsewhere()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"keep.txt"});
}

void TestScripts::sideFileForms_data()
{
    // "D" stands for the digest, "C" for it with a CR after 10 characters,
    // "U" for it in upper case; the text is then written as the encoding
    // says, behind its byte-order mark.
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("LF") << QByteArray("D  x.tar\n") << "" << true;
    QTest::newRow("CRLF") << QByteArray("D  x.tar\r\n") << "" << true;
    QTest::newRow("no line end") << QByteArray("D") << "" << true;
    QTest::newRow("CR inside the digest") << QByteArray("C\n") << "" << true;
    QTest::newRow("UTF-8 mark") << QByteArray("\xef\xbb\xbf" "D\n") << "" << true;
    QTest::newRow("UTF-16 LE mark") << QByteArray("D  x\r\n") << "UTF-16LE" << true;
    QTest::newRow("UTF-16 BE mark") << QByteArray("D\n") << "UTF-16BE" << true;
    QTest::newRow("UTF-32 LE mark") << QByteArray("D\n") << "UTF-32LE" << true;
    QTest::newRow("upper case") << QByteArray("U  x.tar\n") << "" << false;
    QTest::newRow("leading blank") << QByteArray(" D\n") << "" << true;
    QTest::newRow("40 hex characters") << QByteArray("D01234567\n") << "" << true;
    QTest::newRow("empty first line") << QByteArray("\nD\n") << "" << false;
    QTest::newRow("FIFO") << QByteArray("fifo") << "" << false;
    QTest::newRow("link to a device") << QByteArray("/dev/zero") << "" << false;
}

// The scripts check the archive or package once more and must accept
// exactly the side files the tool accepts. Rows whose side file is a FIFO
// would block a reader that opens it, so each run has a time limit.
void TestScripts::sideFileForms()
{
    QFETCH(QByteArray, form);
    QFETCH(QString, encoding);
    QFETCH(bool, accepted);
    const Fixture fixture(QStringLiteral("busybox"), mBusyBoxDir.path());
    const QString run = fixture.device.runDir();
    const QString archive = fixture.folder() + QStringLiteral("/data-A7-20200101000000-1.tar");
    QVERIFY(TestSupport::makeTar(archive, "restored\n"));
    const QString package = run + QStringLiteral("/upgrade/update-V2.tar");
    fixture.device.writeFile(run + QStringLiteral("/upgrade/install.sh"), "exit 0\n");
    QCOMPARE(QProcess::execute("tar", {"-cf", package, "-C", run + "/upgrade", "install.sh"}), 0);

    const QStringList sides = {archive.chopped(4) + ".md5", package + ".md5"};
    const QList<QStringList> commands = {
        {"recover_script.sh", "A7", QFileInfo(archive).fileName(), "1", run + "/data"},
        {"upgrade_script.sh", "A7", "update-V2.tar", "0", run + "/upgrade"}};
    for (int i = 0; i < sides.size(); ++i) {
        const QString digest = md5Of(i == 0 ? archive : package);
        if (form == "fifo") {
            QCOMPARE(QProcess::execute("mkfifo", {sides[i]}), 0);
        } else if (form.startsWith('/')) {
            QVERIFY(QFile::link(QString::fromLatin1(form), sides[i]));
        } else {
            const QString cut = digest.left(10) + QLatin1Char('\r') + digest.mid(10);
            QByteArray text = QByteArray(form).replace('D', digest.toLatin1())
                                  .replace('C', cut.toLatin1())
                                  .replace('U', digest.toUpper().toLatin1());
            if (!encoding.isEmpty())
                text = QTextCodec::codecForName(encoding.toLatin1())->fromUnicode(
                    QChar(QChar::ByteOrderMark) + QString::fromLatin1(text));
            fixture.device.writeFile(sides[i], text);
        }
        // The tool reads side files that are regular files only.
        const int descriptor = RegularFile::openForReading(sides[i]);
        if (descriptor >= 0)
            ::close(descriptor);
        QCOMPARE(descriptor >= 0 && Utils::extractMD5FromFile(sides[i]) == digest, accepted);
        int exitCode = -1;
        const QString output = fixture.run(commands[i], &exitCode, 20000);
        QVERIFY2((exitCode == 0) == accepted, qPrintable(commands[i].first() + ": " + output));
        QVERIFY2(exitCode == 0 || exitCode == 3 || exitCode == 4, qPrintable(output));
    }
}

void TestScripts::history_data()
{
    QTest::addColumn<QByteArray>("before"); // the log before; "%link": run/log leads elsewhere
    QTest::addColumn<QString>("limit");     // run before the script
    QTest::addColumn<QByteArray>("kept");   // what the log begins with; "%none": no line
    QTest::newRow("first run") << QByteArray() << "" << QByteArray();
    QTest::newRow("a torn last line is closed")
        << QByteArray("old\n2026-12-0") << "" << QByteArray("old\n2026-12-0\n");
    QTest::newRow("past its size, cut to its newer half")
        << QByteArray("old line\n").repeated(8000) << "" << QByteArray("old line\n");
    QTest::newRow("one huge line without an end") << QByteArray(200000, 'x') << "" << QByteArray();
    QTest::newRow("run/log leads off the medium") << QByteArray("%link") << "" << QByteArray("%none");
    QTest::newRow("a medium that takes no more bytes")
        << QByteArray() << "ulimit -f 0" << QByteArray("%none");
}

// Each run leaves one line in run/log/SERIAL.log, whatever the log held,
// and never at the cost of the job's exit code (here 2, for one argument).
void TestScripts::history()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, limit);
    QFETCH(QByteArray, kept);
    const Fixture fixture(QStringLiteral("busybox"), mBusyBoxDir.path());
    const QString run = fixture.device.runDir();
    const QString log = run + QStringLiteral("/log/A7.log");
    if (before == "%link")
        QVERIFY(QFile::link(fixture.device.elsewhere(), run + QStringLiteral("/log")));
    else if (!before.isEmpty())
        fixture.device.writeFile(log, before);
    fixture.device.writeScript(run + "/limited.sh",
                               limit + "\nexec \"${0%/*}/backup_script.sh\" \"$@\"");
    int exitCode = -1;
    fixture.run({"limited.sh", "A7"}, &exitCode);
    QCOMPARE(exitCode, 2);
    const QByteArray after = readAll(log);
    if (kept == "%none")
        QVERIFY2(after.isEmpty(), after.constData());
    else
        QVERIFY2(after.startsWith(kept) && after.size() < 66000
                     && QRegularExpression("\n?\\d{4}-\\d\\d-\\d\\dT[0-9:]{8}Z\tbackup\t2\t"
                                           "wrong arguments\t0\t\\d+\tA7\n$")
                            .match(after).hasMatch(),
                 after.right(200).constData());
}

KORVELLO_TEST_MAIN(TestScripts)
#include "tst_scripts.moc"
