#ifndef KORVELLO_TESTDEVICE_H
#define KORVELLO_TESTDEVICE_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtMessageHandler>

class QProcess;

// A simulated device in a temporary directory. Creating one points the
// platform layer at it; destroying it points the layer back at the process's
// empty guard root, never at the real file system.
class TestDevice
{
public:
    TestDevice();
    ~TestDevice();

    bool isValid() const;
    QString root() const;
    // Storage root for a device type (0 and 2: USB, 1: SD card), created.
    QString medium(int devType = 0) const;
    QString runDir(int devType = 0) const;   // medium + "/run", created

    // Writes a file (parents created) and returns its path.
    QString writeFile(const QString &path, const QByteArray &content) const;
    // Writes an executable "#!/bin/sh" script with the given body.
    QString writeScript(const QString &path, const QString &body) const;
    // A script at medium/run/<name> that records its arguments, one per line,
    // in argumentsFile(name), runs `body` and exits with `exitCode`.
    QString writeRecordingScript(const QString &name, int exitCode = 0,
                                 const QString &body = QString(), int devType = 0) const;
    QString argumentsFile(const QString &scriptName) const;
    // The arguments the script received, or an empty list when it never ran.
    QStringList recordedArguments(const QString &scriptName) const;
    bool scriptRan(const QString &scriptName) const;

    // The simulated "/etc/version.cfg".
    QString versionFile() const;
    void writeVersionFile(const QByteArray &content) const;

private:
    QTemporaryDir mDir;
};

namespace TestSupport {

// Sets up what every test executable needs: offscreen platform, a guard
// root and a reboot that only counts. Returns false when the executable
// must not run.
bool prepareProcess();

// How often the tool rebooted since the process started (or the last reset).
int rebootCount();
void resetRebootCount();

// Real md5sum output for a file ("digest  name"), run in the file's folder.
QByteArray md5sumLine(const QString &filePath);
// The lowercase digest alone.
QString md5Of(const QString &filePath);
// Writes path + ".md5" or another side file name with md5sum's line.
void writeSideFile(const QString &dataPath, const QString &sideFilePath);
// A real tar archive of one small file with the given content.
bool makeTar(const QString &archivePath, const QByteArray &content);

// Starts one of the project's own executables (KORVELLO_BIN, KORVELLO_SIM_BIN,
// tools) as a child process, with the emulator in front of it when the build
// is for another architecture. Scripts and system tools are started directly.
void startExecutable(QProcess &process, const QString &executable, const QStringList &arguments);

// Captures debug lines while it lives (still passing them on).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString &text) const;
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

class QVariant;

namespace TestSupport {
// Sets the device serial "snum" for the next job; a null value unsets it.
void setSerial(const QVariant &serial);
} // namespace TestSupport

#endif
