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

} // namespace Measure

#endif
