// The restoration's choice, which hashes every backup of the device folder
// before it takes the newest intact one: BackupCatalog::selectNewestIntact
// over 20 backups of 100 MiB against md5sum of the same archives, warm and
// (as root) cold. It should cost no more than reading them once.

#include "figures.h"

#include "measure.h"
#include "mediumlayout.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

using Measure::secondsText;
using Measure::medianWall;
using Measure::alternate;
using Measure::Alternated;
using Measure::readThrough;
using Measure::kMiB;

bool Figures::restoration()
{
    const QString folder = MediumLayout::deviceFolder(path(QStringLiteral("restoration")),
                                                       QLatin1String(kSerial));
    QDir().mkpath(folder);
    constexpr int kBackups = 20;
    QStringList archives;
    for (int index = 1; index <= kBackups; ++index) {
        const QString base = archiveBase(folder, index);
        QCryptographicHash hash(QCryptographicHash::Md5);
        const QString archive = base + QLatin1String(MediumLayout::kArchiveExtension);
        const bool written = Measure::writeDataFile(
            archive, 100 * kMiB,
            [&hash](const char *data, int size) { hash.addData(data, size); });
        QFile side(base + QLatin1String(MediumLayout::kArchiveSideExtension));
        if (!written || !side.open(QIODevice::WriteOnly)
            || side.write(hash.result().toHex() + "  x.tar\n") < 0)
            return fail(QStringLiteral("cannot write the backups in ") + folder);
        archives << archive;
    }
    const QStringList korvello = {mOptions.self, QStringLiteral("select"), folder};
    const QStringList md5sum = QStringList(QStringLiteral("md5sum")) + archives;
    for (const bool cold : {false, true}) {
        if (cold && !mCold)
            continue;
        if (!cold)
            readThrough(archives);
        const Alternated runs = alternate(korvello, md5sum, mOptions.runs, cold, outputFile());
        if (!runs.failure.isEmpty())
            return fail(runs.failure);
        if (runs.korvello.front().output.trimmed() != QByteArray::number(kBackups))
            return fail(QStringLiteral("the choice was not backup 20: ")
                        + QString::fromLocal8Bit(runs.korvello.front().output));
        const double ours = medianWall(runs.korvello);
        const double theirs = medianWall(runs.reference);
        addRow(QStringLiteral("`BackupCatalog::selectNewestIntact`, 20 backups of 100 MiB, %1")
                   .arg(cold ? QStringLiteral("cold") : QStringLiteral("warm")),
               secondsText(ours), QStringLiteral("`md5sum` of the 20 archives ") + secondsText(theirs),
               ours / theirs);
    }
    return true;
}
