#ifndef KORVELLO_TESTDEVICE_H
#define KORVELLO_TESTDEVICE_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtMessageHandler>

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

    QString root() const;
    // Storage root for a device type (0 and 2: USB, 1: SD card), created.
    QString medium(int devType = 0) const;
    QString runDir(int devType = 0) const; // medium + "/run", created
    // A folder off the medium with one file in it, for links that lead there.
    QString elsewhere() const;

    // Writes a file (parents created) and returns its path.
    QString writeFile(const QString &path, const QByteArray &content) const;
    // Writes an executable "#!/bin/sh" script with the given body.
    QString writeScript(const QString &path, const QString &body) const;
    // A script at medium/run/<name> that records its arguments, one per line,
    // runs `body` and exits with `exitCode`.
    QString writeRecordingScript(const QString &name, int exitCode = 0,
                                 const QString &body = QString()) const;
    // The arguments the script received, or an empty list when it never ran.
    QStringList recordedArguments(const QString &scriptName) const;

    // The simulated "/etc/version.cfg".
    QString versionFile() const;
    void writeVersionFile(const QByteArray &content) const;
    // korvello-medium check's report on the medium, run as the command line
    // runs it with these options; a non-zero exit code leads it.
    QString checkReport(const QString &snum, const QStringList &options = {}) const;

    // Lays out the medium for the serial `snum` from one line per item, the
    // one way every suite describes a medium (paths relative to the medium;
    // %root stands for the device's "/", %else for elsewhere()):
    //   backup STAMP INDEX [FORM]   an archive data-SNUM-STAMP-INDEX.tar made with tar,
    //   backup NAME [FORM]          or any archive name, and its side file by md5sum
    //   package NAME [FORM]         run/upgrade/NAME and NAME.md5 alike
    //   version TEXT                the version file; \n, \r and \t stand for line ends, tab
    //   script JOB EXIT [BODY]      run/JOB_script.sh recording its arguments; the body
    //                               may use $b, the backup's path without extension,
    //                               and the words of kBodies in testdevice.cpp
    //   script JOB missing|noexec|crlf|badinterpreter|reference|edited (DATA_DIR=/srv1)
    //   link PATH TARGET, file PATH [TEXT, escaped as for version], fifo PATH, dir PATH
    // FORM spoils the pair: wrong, upper (digest), none (no side file), only
    // (side file alone), alone (the digest alone), crlf, blank (before the
    // digest), utf16, fifo, zero (a link to /dev/zero), nul1g (1 GiB of NUL
    // bytes without a line end), x150 (150 MiB of "x"), truncated (archive),
    // dataless (the data a link to /dev/zero).
    void lay(const QStringList &items, const QString &snum) const;

private:
    QTemporaryDir mDir;
};

namespace TestSupport {

// What a timing upper bound allows on top: the machine may be busy with
// other builds.
constexpr int kSlackMs = 1500;

// Sets up what every test executable needs: offscreen platform, a guard
// root and a reboot that only counts. Returns false when the executable
// must not run.
bool prepareProcess();

// How often the tool rebooted since the process started (or the last reset).
int rebootCount();
void resetRebootCount();

// Real md5sum output for a file ("digest  name"), run in the file's folder.
QByteArray md5sumLine(const QString &filePath);
// A real tar archive of one small file with the given content.
bool makeTar(const QString &archivePath, const QByteArray &content);

// Starts a child process: one of the project's own executables (those under
// the build folder) with the emulator in front of it when the build is for
// another architecture; scripts and system tools directly.
void startExecutable(QProcess &process, const QString &executable, const QStringList &arguments);

// Runs a child with both channels merged until it ends or, with `until`
// set, until a whole line holding that text has appeared; then kills it.
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
// Sets the device serial "snum" for the next job; a null value unsets it.
void setSerial(const QVariant &serial);

// Captures debug lines while it lives (still passing them on).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    QList<qint64> times() const; // of each line, as elapsedAt counts
    int count(const QString &text) const;
    // Milliseconds from the capture's start (or its last clear()) to the
    // first line containing text, or -1 when there is none.
    qint64 elapsedAt(const QString &text) const;
    void clear();

private:
    QtMessageHandler mPrevious;
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
        QTEST_SET_MAIN_SOURCE_PATH                                                           \
        return QTest::qExec(&tc, argc, argv);                                                \
    }

#endif
