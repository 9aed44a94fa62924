#include "backupcatalog.h"

#include "medialisting.h"
#include "utils.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <limits>

namespace BackupCatalog {

QString backupDir(const QString &storageRoot)
{
    return storageRoot + QStringLiteral("/run/data");
}

QString deviceFolder(const QString &storageRoot, const QString &snum)
{
    return backupDir(storageRoot) + QStringLiteral("/data-") + snum;
}

QString archiveBaseName(const QString &snum, const QString &timeStamp, int index)
{
    return QStringLiteral("data-") + snum + QLatin1Char('-') + timeStamp + QLatin1Char('-')
           + QString::number(index);
}

QStringList listArchives(const QString &folder)
{
    return MediaListing::listFiles(folder, QStringLiteral("data-*.tar"));
}

QString baseName(const QString &fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

bool readIndex(const QString &fileName, int *index)
{
    // Empty pieces count, so "a--b" has three pieces.
    const QStringList pieces = baseName(fileName).split(QLatin1Char('-'));
    if (pieces.size() < 2)
        return false;
    bool ok = false;
    const int value = pieces.last().toInt(&ok, 10);
    *index = ok ? value : 0;
    return true;
}

int nextIndex(const QString &folder, bool *listedAny)
{
    if (listedAny)
        *listedAny = false;
    if (!QDir(folder).exists())
        return 1;
    const QStringList archives = listArchives(folder);
    if (archives.isEmpty()) {
        qDebug() << "not found right files ";
        return 1;
    }
    if (listedAny)
        *listedAny = true;
    int best = 1;
    for (const QString &name : archives) {
        int index = 0;
        if (readIndex(name, &index) && index > best)
            best = index;
    }
    // An archive at the largest 32-bit index leaves no next number. Reusing
    // that index would not do: of two intact archives with the same index the
    // restoration keeps the one with the earlier time stamp, so the new backup
    // would be reported good and never restored. No index is given instead,
    // and the backup is refused where the device folder is refused.
    if (best == std::numeric_limits<int>::max())
        return kNoIndex;
    return best + 1;
}

Selection selectNewestIntact(const QString &folder)
{
    // Filled in with the restoration job.
    Q_UNUSED(folder)
    return Selection();
}

} // namespace BackupCatalog
