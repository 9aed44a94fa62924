#ifndef KORVELLO_BENCH_MEASURE_H
#define KORVELLO_BENCH_MEASURE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// What every figure of korvello-bench is made of: whole processes timed from
// their start to their end, with their CPU time and their peak resident size
// as the kernel counts them, caches dropped before cold runs, and medians.
namespace Measure {

struct Run
{
    double wallSeconds = 0;
    double cpuSeconds = 0;  // user + system
    long peakKiB = 0;       // the process's largest resident set (VmHWM), 0 if unknown
    int exitCode = -1;      // -1 when it could not start or was killed
    QByteArray output;      // standard output and error, interleaved
    std::int64_t startedNs = 0;  // CLOCK_MONOTONIC at the start
};

// Runs a program to its end, environment = ours plus `extraEnvironment`
// ("NAME=value"), output captured through `outputFile`.
Run run(const QStringList &command, const QString &outputFile,
        const QStringList &extraEnvironment = QStringList());

std::int64_t monotonicNs();

// Writes back every dirty page and empties the page cache, as the device's
// medium is when just plugged in. False when not permitted (not root).
bool dropCaches();
bool canDropCaches();

double median(std::vector<double> values);

// Writes `bytes` of pseudo-random data: a file system cannot store it
// sparsely or compress it. Feeds `onBlock` with each block written.
bool writeDataFile(const QString &path, std::int64_t bytes,
                   const std::function<void(const char *, int)> &onBlock = {});

// Seconds for one in-process call, median of `runs`.
double timeCall(int runs, const std::function<void()> &call);

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kGiB = 1 << 30;

// A time as the table shows it: seconds from 1 s up, else milliseconds.
QString secondsText(double seconds);
// A size in KiB as the table shows it, in MiB.
QString mibText(double kib);

// The medians of runs' wall-clock times and of their peak resident sizes.
double medianWall(const std::vector<Run> &runs);
double medianPeakKiB(const std::vector<Run> &runs);

// A figure's runs beside its reference's.
struct Alternated
{
    std::vector<Run> korvello;
    std::vector<Run> reference;
    QString failure;  // the first command that did not end with 0
};

// Runs both commands `runs` times each and swaps which goes first every
// round, so whatever else the machine does falls on both alike. Cold: the
// page cache is dropped before each run.
Alternated alternate(const QStringList &korvello, const QStringList &reference, int runs,
                     bool cold, const QString &outputFile);

// Reads files once so that the runs after it find them in the page cache.
void readThrough(const QStringList &files);
// A folder's regular files in name order, as paths.
QStringList filesIn(const QString &folder);

} // namespace Measure

#endif
