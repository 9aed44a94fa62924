#include "scriptrunner.h"

#include "boundedlog.h"
#include "onmedium.h"
#include "regularfile.h"
#include "texts.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace ScriptRunner {

namespace {

constexpr int kPollMs = 100;
constexpr int kReadBlock = 65536;
constexpr int kHeaderBytes = 256;

// Spelled out rather than streamed: not every Qt 5 release registers the
// enumerator names of QProcess::ExitStatus with the debug stream.
const char *exitStatusName(QProcess::ExitStatus status)
{
    return status == QProcess::NormalExit ? "QProcess::NormalExit" : "QProcess::CrashExit";
}

// A pipe whose write end becomes one of the script's output channels and
// whose read end the runner drains while the script runs. QProcess would
// keep all the output in memory; this keeps only what BoundedLog allows.
class OutputPipe
{
public:
    OutputPipe()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            mRead = ends[0];
            mWrite = ends[1];
            ::fcntl(mRead, F_SETFL, ::fcntl(mRead, F_GETFL) | O_NONBLOCK);
        }
    }
    ~OutputPipe()
    {
        closeWriteEnd();
        if (mRead >= 0)
            ::close(mRead);
    }
    OutputPipe(const OutputPipe &) = delete;
    OutputPipe &operator=(const OutputPipe &) = delete;

    bool isValid() const { return mRead >= 0 && mWrite >= 0; }
    int writeEnd() const { return mWrite; }
    void closeWriteEnd()
    {
        if (mWrite >= 0)
            ::close(mWrite);
        mWrite = -1;
    }

    // Reads what is there without waiting.
    void drain()
    {
        char block[kReadBlock];
        for (;;) {
            const ssize_t got = ::read(mRead, block, sizeof block);
            mEnded = mEnded || got == 0;
            if (got <= 0)
                return;
            mCapture.append(block, got);
        }
    }
    // What to wait on: nothing once every writer has closed its end, or a
    // closed pipe would wake the wait at once, again and again.
    int pollable() const { return mEnded ? -1 : mRead; }

    const BoundedLog::Capture &capture() const { return mCapture; }

private:
    int mRead = -1;
    int mWrite = -1;
    bool mEnded = false;
    BoundedLog::Capture mCapture;
};

// Puts the script's standard output and error on the runner's own pipes.
// Runs in the child between fork and exec, after QProcess has set up its
// channels, so these take their place.
class ScriptProcess : public QProcess
{
public:
    ScriptProcess(const OutputPipe &out, const OutputPipe &err)
        : mOut(out.writeEnd())
        , mErr(err.writeEnd())
    {
    }

protected:
    void setupChildProcess() override
    {
        ::dup2(mOut, STDOUT_FILENO);
        ::dup2(mErr, STDERR_FILENO);
    }

private:
    int mOut;
    int mErr;
};

// Waits for the script to end, draining its output meanwhile. False when
// waiting failed.
bool waitDraining(QProcess &process, OutputPipe &out, OutputPipe &err)
{
    for (;;) {
        struct pollfd fds[] = {{out.pollable(), POLLIN, 0}, {err.pollable(), POLLIN, 0}};
        ::poll(fds, 2, kPollMs);
        out.drain();
        err.drain();
        if (process.waitForFinished(0))
            break;
        if (process.state() == QProcess::NotRunning)
            return false;
    }
    // What the script wrote just before it ended. A process it left behind
    // may keep the pipes open: nothing more is waited for.
    out.drain();
    err.drain();
    return true;
}

// One line per line feed, the text cut at its first NUL byte.
void logLines(const QByteArray &bytes)
{
    const int beforeNul = int(qstrnlen(bytes.constData(), uint(bytes.size())));
    const QString text = QString::fromUtf8(bytes.constData(), beforeNul);
    for (const QString &piece : text.split(QLatin1Char('\n')))
        qDebug() << "Standard Output: " << piece;
}

void logOutput(const BoundedLog::Capture &out, const BoundedLog::Capture &err)
{
    if (!out.isCut()) {
        logLines(out.head() + out.tail());
    } else {
        logLines(out.head());
        qDebug() << "Standard Output: " << BoundedLog::cutMarker(out.total(), "bytes").constData();
        logLines(out.tail());
    }
    if (!err.isCut())
        qDebug() << "Error Output:" << err.head() + err.tail();
    else
        qDebug() << "Error Output:" << err.head()
                 << BoundedLog::cutMarker(err.total(), "bytes").constData() << err.tail();
}

// The machine this build runs on: the kernel runs no program for another.
#if defined(__aarch64__)
constexpr quint16 kOwnMachine = EM_AARCH64;
#elif defined(__x86_64__)
constexpr quint16 kOwnMachine = EM_X86_64;
#else
#error "unknown machine"
#endif

// What the kernel checks of an ELF header before it runs the program: a
// little-endian 64-bit executable or shared object for this machine.
QString elfProblem(const QByteArray &header)
{
    Elf64_Ehdr elf;
    if (header.size() < int(sizeof elf))
        return QStringLiteral("an ELF header cut short");
    memcpy(&elf, header.constData(), sizeof elf);
    if (elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_ident[EI_DATA] != ELFDATA2LSB
        || elf.e_ident[EI_VERSION] != EV_CURRENT || (elf.e_type != ET_EXEC && elf.e_type != ET_DYN)
        || elf.e_machine != kOwnMachine)
        return QStringLiteral("an ELF header that is not a program for this machine");
    return QString();
}

// The interpreter the kernel runs for a "#!" line: it skips blanks after
// "#!" and takes the name up to the next blank or the line feed, so a
// carriage return left by an editor on another system stays in the name.
QString interpreterProblem(const QByteArray &header)
{
    const QByteArray line = header.mid(2).split('\n').first();
    int start = 0;
    while (start < line.size() && (line.at(start) == ' ' || line.at(start) == '\t'))
        ++start;
    int end = start;
    while (end < line.size() && line.at(end) != ' ' && line.at(end) != '\t')
        ++end;
    const QByteArray interpreter = line.mid(start, end - start);
    if (interpreter.isEmpty())
        return QStringLiteral("its \"#!\" line names no interpreter");
    if (interpreter.contains('\r'))
        return QStringLiteral("its \"#!\" line ends in a carriage return (saved with CR LF)");
    // The kernel looks the interpreter up on the device itself, never on
    // the medium.
    const QFileInfo program(QFile::decodeName(interpreter));
    if (!program.exists())
        return QStringLiteral("its interpreter %1 does not exist").arg(program.filePath());
    if (!program.isFile() || !program.isExecutable())
        return QStringLiteral("its interpreter %1 is not an executable file")
            .arg(program.filePath());
    return QString();
}

// Why the kernel cannot execute the file, or empty when it can: a program
// for this machine, or a "#!" line naming an interpreter that can run.
QString startProblem(const QString &path)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return QStringLiteral("it is not a regular file");
    const QByteArray header = file.read(kHeaderBytes);
    if (header.startsWith("\x7f" "ELF"))
        return elfProblem(header);
    if (!header.startsWith("#!"))
        return QStringLiteral("it has no \"#!\" line and is no program");
    return interpreterProblem(header);
}

} // namespace

ScriptState presence(const QString &path)
{
    const QFileInfo script(path);
    // A script that leads off the medium is not the medium's to run.
    const QString medium = OnMedium::rootOf(path);
    if (!script.exists() || (!medium.isEmpty() && !OnMedium::holds(medium, path)))
        return ScriptState::Missing;
    if (!script.isExecutable())
        return ScriptState::NotExecutable;
    return ScriptState::Runnable;
}

ScriptState inspect(const QString &path, QString *why)
{
    const ScriptState state = presence(path);
    if (state != ScriptState::Runnable)
        return state;
    const QString problem = startProblem(path);
    if (why)
        *why = problem;
    return problem.isEmpty() ? ScriptState::Runnable : ScriptState::Unstartable;
}

int run(const Traits &traits, const QString &root, const QStringList &arguments,
        const std::function<void(const QString &)> &setNote)
{
    const QString path = MediumLayout::scriptPath(root, traits.script);
    qDebug() << "=== " << traits.logName << " " << path;

    switch (presence(path)) {
    case ScriptState::Missing:
        qDebug() << "Error: Script does not exist -" << path;
        setNote(Texts::runnerNote(ScriptState::Missing));
        return traits.resultMissing;
    case ScriptState::NotExecutable:
        qDebug() << "Error: Script is not executable -" << path;
        setNote(Texts::runnerNote(ScriptState::NotExecutable));
        return traits.resultNotExecutable;
    default:
        break;
    }

    OutputPipe out;
    OutputPipe err;
    ScriptProcess process(out, err);
    if (out.isValid() && err.isValid())
        process.start(path, arguments, QIODevice::ReadWrite);
    out.closeWriteEnd();
    err.closeWriteEnd();
    if (!process.waitForStarted(kStartTimeoutMs)) {
        qDebug() << "Error: Failed to start script -" << process.errorString();
        setNote(Texts::runnerNote(ScriptState::Unstartable));
        return traits.resultNotStarted;
    }
    // Nothing is ever written to a script; closing its input at once keeps a
    // script that reads it from waiting for ever.
    process.closeWriteChannel();
    if (!waitDraining(process, out, err)) {
        qDebug() << "Error: Script execution timed out or encountered an error -"
                 << process.errorString();
        return kWaitFailedResult;
    }
    qDebug() << "Script execution completed";
    logOutput(out.capture(), err.capture());
    qDebug() << "Exit Status:" << exitStatusName(process.exitStatus());
    qDebug() << "Exit Code:" << process.exitCode();
    return process.exitCode();
}

} // namespace ScriptRunner
