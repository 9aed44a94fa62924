#ifndef KORVELLO_TESTDEVICE_H
#define KORVELLO_TESTDEVICE_H

#include "mediumlayout.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>

class Medium;
class QProcess;
class QVariant;

// A simulated device in a temporary directory. Creating one points the
// platform layer at it; destroying it points the layer back at the process's
// empty guard root, never at the real file system.
class TestDevice
{
public:
    TestDevice();
    ~TestDevice();

    QString root() const { return mDir.path(); }
    // Storage root for a device type (0 and 2: USB, 1: SD card), created.
    QString medium(int devType = 0) const;
    QString runDir(int devType = 0) const; // medium + "/run", created
    // A folder off the medium with one file in it, for links that lead there.
    QString elsewhere() const { return root() + QStringLiteral("/elsewhere"); }

    // Parents created; returns the path.
    QString writeFile(const QString &path, const QByteArray &content) const;
    QString writeScript(const QString &path, const QString &body) const;
    // The arguments the script received, or an empty list when it never ran.
    QStringList recordedArguments(const QString &scriptName) const;

    QString versionFile() const; // the simulated "/etc/version.cfg"
    void writeVersionFile(const QByteArray &content) const { writeFile(versionFile(), content); }
    void lay(const Medium &medium, const QString &snum) const;

private:
    QTemporaryDir mDir;
};

// A test medium's words, an enum per vocabulary: a misspelt form does not
// compile, where it could lay a silently different medium.
using Job = MediumLayout::Script;

// How an archive or package and its side file (by md5sum) are spoilt: the
// side file's text, something in its place, or the data.
enum class Spoil {
    None, WrongDigest, UpperDigest, DigestAlone, CrLf, Utf16, NoSideFile, SideFileOnly,
    Truncated, Fifo, DevZero, KernelFile, OffMedium, Nul256MiB, X96MiB,
    Dataless,  // the data's ".tar" a link to /dev/zero
    LinkedOff, // the data a link to a copy off the medium
    Folder,    // a folder by the data's name, nothing else
};

// What a recording script does after recording its arguments, for the
// backup its job asked for.
enum class Does {
    Archive, SideFile, FifoSum,
    Flood1GiB, // of standard output, then:
    Flood,     // 20 MB ending in "last" on standard output, 150 MB on the error channel
    Talk,      // a few lines, one with a NUL byte; reads its input
    Killed,
};

enum class ScriptFile {
    Recording, // records its arguments: Script::exits()
    Missing, NotExecutable, CrLf, BadInterpreter, NullInterpreter, ElfJunk, Folder,
    Reference, Edited, // the reference script; with DATA_DIR=/srv1, the same size
};

struct Script
{
    Script(ScriptFile file, int exitCode = 0) : file(file), exitCode(exitCode) {}
    static Script exits(int code) { return Script(ScriptFile::Recording, code); }
    Script writes(Does does) const;
    Script setsVersion(const QString &version) const; // as the version file's one line
    ScriptFile file;
    int exitCode;
    QStringList body;
};

// A medium as steps that TestDevice::lay takes in turn; paths are relative to it.
class Medium
{
public:
    enum Off { Elsewhere, Nowhere }; // where a link off the medium leads

    Medium &script(Job job, const Script &script);
    // data-SNUM-STAMP-INDEX.tar, made with tar, and its side file.
    Medium &backup(const QString &stamp, qint64 index, Spoil spoil = Spoil::None);
    Medium &backupNamed(const QString &fileName, Spoil spoil = Spoil::None);
    Medium &package(const QString &fileName, Spoil spoil = Spoil::None);
    Medium &version(const QByteArray &text);
    Medium &file(const QString &path, const QByteArray &content = "x");
    Medium &dir(const QString &path);
    Medium &link(const QString &path, Off target);
    Medium &link(const QString &path, const QString &target); // an absolute path
    Medium &lay(const Medium &after); // another medium's steps after these

private:
    friend class TestDevice;
    using Step = std::function<void(const TestDevice &device, const QString &snum)>;
    Medium &then(const Step &step);
    using PathStep = std::function<void(const TestDevice &device, const QString &to)>;
    Medium &at(const QString &path, const PathStep &make); // its folder made first
    QVector<Step> mSteps;
};
Q_DECLARE_METATYPE(Medium)

namespace TestSupport {

// What a timing upper bound allows on top: the machine may be busy.
constexpr int kSlackMs = 1500;

// Offscreen platform, a guard root, a reboot that only counts; false: do not run.
bool prepareProcess();

int rebootCount(); // since the process started or the last reset
void resetRebootCount();

// Real md5sum output for a file ("digest  name"), run in the file's folder.
QByteArray md5sumLine(const QString &filePath);
// A real tar archive of one small file with the given content.
bool makeTar(const QString &archivePath, const QByteArray &content);

// The project's own executables (under the build folder) behind the emulator
// when the build is for another architecture; anything else directly.
void startExecutable(QProcess &process, const QString &executable, const QStringList &arguments);

// Runs a child with both channels merged (no executable: one already started)
// until it ends or a whole line holding `until` has appeared, then kills it.
// Returns everything it printed; *timedOut tells whether limitMs ran out.
QString runChild(QProcess &child, const QString &executable, const QStringList &arguments,
                 const QString &until, int limitMs, bool *timedOut = nullptr);

// The largest resident size, in KiB, of any child this process has waited for.
long childrenPeakKiB();

// Where a JSON value breaks a JSON schema (type, enum, required, properties,
// additionalProperties, items, "$ref" to its definitions); empty when it
// conforms. `root` is the whole schema, for "$ref"; empty: `schema` is.
QString schemaViolation(const QJsonValue &value, const QJsonObject &schema,
                        const QJsonObject &root = QJsonObject(), const QString &where = "$");
// The first of `says` that `said` does not bear out ("!" + text: must not say it).
QString missed(const QString &said, const QStringList &says);
// Sets the device serial "snum" for the next job; a null value unsets it.
void setSerial(const QVariant &serial);

// Captures debug lines while it lives (still passing them on); one at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    QList<qint64> times() const; // of each line, as elapsedAt counts
    int count(const QString &text) const;
    // Milliseconds from the capture's start to the first line holding text; -1: none.
    qint64 elapsedAt(const QString &text) const;
};

} // namespace TestSupport

// Use instead of QTEST_MAIN in every test executable.
#define KORVELLO_TEST_MAIN(TestObject)                                                       \
    int main(int argc, char *argv[])                                                         \
    {                                                                                        \
        if (!TestSupport::prepareProcess())                                                  \
            return 1;                                                                        \
        QApplication app(argc, argv);                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                             \
        TestObject tc;                                                                       \
        return QTest::qExec(&tc, argc, argv);                                                \
    }

#endif
