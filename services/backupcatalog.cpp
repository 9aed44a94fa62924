#include "backupcatalog.h"

#include "medialisting.h"
#include "mediumlayout.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace BackupCatalog {

QStringList listArchives(const QString &folder)
{
    return MediaListing::listFiles(folder, QLatin1String(MediumLayout::kArchivePattern));
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
    if (archives.isEmpty())
        return 1;
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

namespace {

// Pairs a listed archive with its side file by base name, as the device
// does, so an upper-case extension or a "." inside the name is looked up
// under a name that may not exist.
Candidate hashCandidate(const QString &folder, const QString &fileName, int index)
{
    Candidate candidate;
    candidate.fileName = fileName;
    candidate.base = baseName(fileName);
    candidate.index = index;
    const QString basePath = folder + QLatin1Char('/') + candidate.base;
    candidate.archivePath = basePath + QLatin1String(MediumLayout::kArchiveExtension);
    candidate.sideFilePath = basePath + QLatin1String(MediumLayout::kArchiveSideExtension);
    candidate.digests = SideFile::check(candidate.archivePath, candidate.sideFilePath);
    return candidate;
}

} // namespace

QString restoredFileName(const Selection &selection)
{
    return QFileInfo(selection.chosenPath).fileName();
}

Selection selectNewestIntact(const QString &folder, const CandidateCallback &onHashed)
{
    Selection selection;
    selection.folderExists = QDir(folder).exists();
    if (!selection.folderExists)
        return selection;
    const QStringList archives = listArchives(folder);
    selection.listedAny = !archives.isEmpty();
    for (const QString &name : archives) {
        int index = 0;
        if (!readIndex(name, &index))
            continue;
        const Candidate candidate = hashCandidate(folder, name, index);
        if (onHashed)
            onHashed(candidate);
        // Strictly greater: an equal index keeps the earlier name (the
        // earlier time stamp), and an index of 0 or less never wins.
        if (candidate.intact() && candidate.index > selection.maxIndex) {
            selection.chosenPath = candidate.archivePath;
            selection.chosenFileName = candidate.fileName;
            selection.maxIndex = candidate.index;
        }
    }
    return selection;
}

} // namespace BackupCatalog
