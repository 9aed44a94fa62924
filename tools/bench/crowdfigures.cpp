// Memory among crowds: the peak resident size of listing, sorting and
// choosing among 1,000 to 200,000 backups (every one hashed, as the
// restoration does) and as many packages, beside the same process over
// empty folders. It must not grow with the folder: the device has little
// memory, and a medium may hold anything.

#include "figures.h"

#include "measure.h"
#include "mediumlayout.h"

#include <QDir>
#include <QFile>

using Measure::secondsText;
using Measure::mibText;
using Measure::Run;

namespace {

// An empty file with its side file; `side` empty: none.
bool writePair(const QString &data, const QString &side)
{
    QFile file(data);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    if (side.isEmpty())
        return true;
    QFile sideFile(side);
    return sideFile.open(QIODevice::WriteOnly)
           && sideFile.write("d41d8cd98f00b204e9800998ecf8427e  x\n") > 0;
}

// A medium whose device folder holds `count` intact backups and whose
// package folder holds `count` packages, of which only the last in name
// order (the one the upgrade takes) has a side file.
bool fillCrowd(const QString &medium, int count)
{
    const QString archives = MediumLayout::deviceFolder(medium, QLatin1String(Figures::kSerial));
    const QString packages = MediumLayout::packageFolder(medium);
    if (!QDir().mkpath(archives) || !QDir().mkpath(packages))
        return false;
    for (int index = 1; index <= count; ++index) {
        const QString base = Figures::archiveBase(archives, index);
        const QString version = QStringLiteral("V%1").arg(index, 6, 10, QLatin1Char('0'));
        const QString package = packages + QLatin1Char('/')
                                + QLatin1String(MediumLayout::kPackageVersionLead) + version
                                + QLatin1String(MediumLayout::kPackageVersionTail);
        if (!writePair(base + QLatin1String(MediumLayout::kArchiveExtension),
                       base + QLatin1String(MediumLayout::kArchiveSideExtension))
            || !writePair(package, index == count ? MediumLayout::packageSideFile(package)
                                                  : QString()))
            return false;
    }
    return true;
}

} // namespace

bool Figures::crowds()
{
    const QString empty = path(QStringLiteral("crowds/empty"));
    if (!fillCrowd(empty, 0))
        return fail(QStringLiteral("cannot write ") + empty);
    auto peakOf = [this](const char *command, const QString &folder) {
        return Measure::run({mOptions.self, QLatin1String(command), folder}, outputFile());
    };
    const Run restoreBase = peakOf("select", MediumLayout::deviceFolder(empty, QLatin1String(kSerial)));
    const Run upgradeBase = peakOf("upgrade", MediumLayout::packageFolder(empty));
    for (const int count : {1000, 10000, 200000}) {
        const QString medium = path(QStringLiteral("crowds/%1").arg(count));
        if (!fillCrowd(medium, count))
            return fail(QStringLiteral("cannot write ") + medium);
        const Run restore = peakOf("select", MediumLayout::deviceFolder(medium, QLatin1String(kSerial)));
        const Run upgrade = peakOf("upgrade", MediumLayout::packageFolder(medium));
        if (restore.exitCode != 0 || upgrade.exitCode != 0)
            return fail(QStringLiteral("choosing among %1 entries failed").arg(count));
        addRow(QStringLiteral("peak resident size choosing a backup among %L1 archives, %2")
                   .arg(count).arg(secondsText(restore.wallSeconds)),
               mibText(restore.peakKiB),
               QStringLiteral("empty device folder ") + mibText(restoreBase.peakKiB),
               double(restore.peakKiB) / restoreBase.peakKiB);
        addRow(QStringLiteral("peak resident size choosing a package among %L1, %2")
                   .arg(count).arg(secondsText(upgrade.wallSeconds)),
               mibText(upgrade.peakKiB),
               QStringLiteral("empty package folder ") + mibText(upgradeBase.peakKiB),
               double(upgrade.peakKiB) / upgradeBase.peakKiB);
        QDir(medium).removeRecursively();
    }
    return true;
}
