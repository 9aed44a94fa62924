#include "measure.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <memory>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace Measure {

namespace {

constexpr char kDropCaches[] = "/proc/sys/vm/drop_caches";

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Holds the C strings that posix_spawn wants for as long as the call needs.
class CStrings
{
public:
    void add(const QByteArray &text) { mTexts.push_back(text); }
    char **pointers()
    {
        mPointers.clear();
        for (QByteArray &text : mTexts)
            mPointers.push_back(text.data());
        mPointers.push_back(nullptr);
        return mPointers.data();
    }

private:
    std::vector<QByteArray> mTexts;
    std::vector<char *> mPointers;
};

} // namespace

std::int64_t monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

namespace {

// The peak resident size of a traced process stopped at its exit, when its
// memory is still there to be read.
long peakOfStopped(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

} // namespace

Run run(const QStringList &command, const QString &outputFile, const QStringList &extraEnvironment)
{
    CStrings arguments;
    for (const QString &argument : command)
        arguments.add(argument.toLocal8Bit());
    CStrings environment;
    for (char **variable = environ; *variable; ++variable)
        environment.add(QByteArray(*variable));
    for (const QString &variable : extraEnvironment)
        environment.add(variable.toLocal8Bit());
    const QByteArray outputName = outputFile.toLocal8Bit();
    char **argv = arguments.pointers();
    char **envp = environment.pointers();

    Run result;
    result.startedNs = monotonicNs();
    const pid_t child = fork();
    if (child < 0)
        return result;
    if (child == 0) {
        const int output = ::open(outputName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (output < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0)
            _exit(127);
        // Traced only to be stopped once at its exit: the kernel's own peak
        // (ru_maxrss) would be that of this large process, which the child
        // inherits across exec, so the peak is read from the child itself.
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvpe(argv[0], argv, envp);
        _exit(127);
    }
    int status = 0;
    rusage usage;
    bool execed = false;
    for (;;) {
        if (wait4(child, &status, 0, &usage) < 0) {
            if (errno == EINTR)
                continue;
            return result;
        }
        if (!WIFSTOPPED(status))
            break;
        // The first stop is the exec's SIGTRAP, the last one the exit event;
        // any other stop is a signal for the child, passed on.
        int deliver = 0;
        if (status >> 16 == PTRACE_EVENT_EXIT) {
            result.peakKiB = peakOfStopped(child);
        } else if (WSTOPSIG(status) == SIGTRAP && !execed) {
            execed = true;
            ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
        } else {
            deliver = WSTOPSIG(status);
        }
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void *>(static_cast<long>(deliver)));
    }
    result.wallSeconds = static_cast<double>(monotonicNs() - result.startedNs) / 1e9;
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile output(outputFile);
    if (output.open(QIODevice::ReadOnly))
        result.output = output.readAll();
    return result;
}

bool canDropCaches()
{
    return ::access(kDropCaches, W_OK) == 0;
}

bool dropCaches()
{
    ::sync();
    const int fd = ::open(kDropCaches, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, "3", 1) == 1;
    ::close(fd);
    return written;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

bool writeDataFile(const QString &path, std::int64_t bytes,
                   const std::function<void(const char *, int)> &onBlock)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    constexpr int kBlock = 1 << 20;
    std::unique_ptr<std::uint64_t[]> words(new std::uint64_t[kBlock / 8]);
    // xorshift64: fast, and every file differs because the seed follows the path.
    std::uint64_t state = 0x9E3779B97F4A7C15ULL ^ static_cast<std::uint64_t>(qHash(path));
    for (std::int64_t left = bytes; left > 0;) {
        for (int i = 0; i < kBlock / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        const int size = static_cast<int>(std::min<std::int64_t>(left, kBlock));
        const char *data = reinterpret_cast<const char *>(words.get());
        if (file.write(data, size) != size)
            return false;
        if (onBlock)
            onBlock(data, size);
        left -= size;
    }
    return file.flush();
}

double timeCall(int runs, const std::function<void()> &call)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const std::int64_t started = monotonicNs();
        call();
        times.push_back(static_cast<double>(monotonicNs() - started) / 1e9);
    }
    return median(times);
}

QString secondsText(double seconds)
{
    if (seconds >= 1)
        return QString::number(seconds, 'f', 2) + QStringLiteral(" s");
    return QString::number(seconds * 1000, 'f', 1) + QStringLiteral(" ms");
}

QString mibText(double kib)
{
    // Rounded first, so that a tiny negative difference shows as 0.0.
    double mib = std::round(kib / 1024 * 10) / 10;
    if (mib == 0)
        mib = 0;
    return QString::number(mib, 'f', 1) + QStringLiteral(" MiB");
}

double medianWall(const std::vector<Run> &runs)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(run.wallSeconds);
    return median(values);
}

double medianPeakKiB(const std::vector<Run> &runs)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(static_cast<double>(run.peakKiB));
    return median(values);
}

Alternated alternate(const QStringList &korvello, const QStringList &reference, int runs,
                     bool cold, const QString &outputFile)
{
    Alternated result;
    for (int round = 0; round < runs; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool korvelloTurn = (turn == 0) == (round % 2 == 0);
            const QStringList &command = korvelloTurn ? korvello : reference;
            if (cold)
                dropCaches();
            const Run run = Measure::run(command, outputFile);
            if (run.exitCode != 0 && result.failure.isEmpty())
                result.failure = command.join(QLatin1Char(' ')) + QStringLiteral(": ")
                                 + QString::fromLocal8Bit(run.output.right(400));
            (korvelloTurn ? result.korvello : result.reference).push_back(run);
        }
    }
    return result;
}

void readThrough(const QStringList &files)
{
    std::unique_ptr<char[]> buffer(new char[kMiB]);
    for (const QString &file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        while (::read(fd, buffer.get(), kMiB) > 0) {
        }
        ::close(fd);
    }
}

QStringList filesIn(const QString &folder)
{
    QStringList files;
    for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name))
        files << folder + QLatin1Char('/') + name;
    return files;
}

} // namespace Measure
