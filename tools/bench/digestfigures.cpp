// The digest, which every job waits for: Utils::calculateFileMD5 in a
// process of its own against md5sum on the same file, of 1 MiB, 1 GiB and
// 4 GiB, warm and (as root) cold, and the peak resident size of both. The
// peak must not grow with the file: the device has little memory and the
// archives are large.

#include "figures.h"

#include "measure.h"

#include <QDir>
#include <QFile>

using Measure::secondsText;
using Measure::mibText;
using Measure::medianWall;
using Measure::medianPeakKiB;
using Measure::alternate;
using Measure::Alternated;
using Measure::readThrough;
using Measure::kMiB;
using Measure::kGiB;

bool Figures::digest()
{
    const QString folder = path(QStringLiteral("digest"));
    QDir().mkpath(folder);
    struct Size
    {
        const char *name;
        qint64 bytes;
    };
    const Size sizes[] = {{"1 MiB", kMiB}, {"1 GiB", kGiB}, {"4 GiB", 4 * kGiB}};
    double peak[2][2] = {};  // [1 MiB, 4 GiB][korvello, md5sum]
    for (const Size &size : sizes) {
        const QString file = folder + QStringLiteral("/data-") + QString::number(size.bytes);
        if (!Measure::writeDataFile(file, size.bytes))
            return fail(QStringLiteral("cannot write ") + file);
        const QStringList korvello = {mOptions.self, QStringLiteral("hash"), file};
        const QStringList md5sum = {QStringLiteral("md5sum"), file};
        for (const bool cold : {false, true}) {
            if (cold && (!mCold || size.bytes < kGiB))
                continue;
            if (!cold)
                readThrough({file});
            const Alternated runs = alternate(korvello, md5sum, mOptions.runs, cold, outputFile());
            if (!runs.failure.isEmpty())
                return fail(runs.failure);
            if (runs.korvello.front().output.left(32) != runs.reference.front().output.left(32))
                return fail(QStringLiteral("calculateFileMD5 and md5sum disagree on ") + file);
            if (size.bytes != kGiB && !cold) {
                const int at = size.bytes == kMiB ? 0 : 1;
                peak[at][0] = medianPeakKiB(runs.korvello);
                peak[at][1] = medianPeakKiB(runs.reference);
            }
            if (size.bytes < kGiB)
                continue;
            const double ours = medianWall(runs.korvello);
            const double theirs = medianWall(runs.reference);
            addRow(QStringLiteral("`calculateFileMD5`, %1, %2")
                       .arg(QLatin1String(size.name),
                            cold ? QStringLiteral("cold") : QStringLiteral("warm")),
                   secondsText(ours), QStringLiteral("`md5sum` ") + secondsText(theirs),
                   ours / theirs);
        }
        QFile::remove(file);
    }
    const char *peakNames[] = {"1 MiB", "4 GiB"};
    for (int at = 0; at < 2; ++at)
        addRow(QStringLiteral("peak resident size hashing %1").arg(QLatin1String(peakNames[at])),
               mibText(peak[at][0]), QStringLiteral("`md5sum` ") + mibText(peak[at][1]),
               peak[at][0] / peak[at][1]);
    addRow(QStringLiteral("peak growth from 1 MiB to 4 GiB"),
           mibText(peak[1][0] - peak[0][0]),
           QStringLiteral("`md5sum` ") + mibText(peak[1][1] - peak[0][1]), -1);
    mNotes << QStringLiteral("Digest figures are whole processes, from start to end: "
                             "`korvello-bench hash FILE` calls `Utils::calculateFileMD5`.");
    return true;
}
