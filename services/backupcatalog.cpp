#include "backupcatalog.h"

#include "medialisting.h"
#include "mediumlayout.h"

#include <QDir>

#include <limits>

namespace BackupCatalog {

QStringList listArchives(const QString &folder)
{
    return MediaListing::listFiles(folder, QLatin1String(MediumLayout::kArchivePattern));
}

QStringList listArchives(const QStringList &regularFiles)
{
    return MediaListing::matching(regularFiles, QLatin1String(MediumLayout::kArchivePattern));
}

namespace {

// The last component of a path, as text: QFileInfo would take the name to
// the file system's bytes and back, for every archive of a listing.
QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QString baseName(const QString &fileName)
{
    const QString name = lastComponent(fileName);
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
    if (listedAny)
        *listedAny = !archives.isEmpty();
    return nextIndexOf(archives);
}

int nextIndexOf(const QStringList &archives)
{
    if (archives.isEmpty())
        return 1;
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
Candidate hashCandidate(const QString &folder, const QString &fileName, int index,
                        const Hasher &hash)
{
    Candidate candidate;
    candidate.fileName = fileName;
    candidate.base = baseName(fileName);
    candidate.index = index;
    const QString basePath = folder + QLatin1Char('/') + candidate.base;
    candidate.archivePath = basePath + QLatin1String(MediumLayout::kArchiveExtension);
    candidate.sideFilePath = basePath + QLatin1String(MediumLayout::kArchiveSideExtension);
    candidate.digests = hash(candidate.archivePath, candidate.sideFilePath);
    return candidate;
}

} // namespace

QString restoredFileName(const Selection &selection)
{
    return lastComponent(selection.chosenPath);
}

Selection selectNewestIntact(const QString &folder, const CandidateCallback &onHashed)
{
    if (!QDir(folder).exists())
        return Selection();
    const Hasher fromMedium = [](const QString &archivePath, const QString &sideFilePath) {
        return SideFile::check(archivePath, sideFilePath);
    };
    return selectFrom(folder, listArchives(folder), fromMedium, onHashed);
}

Selection selectFrom(const QString &folder, const QStringList &archives, const Hasher &hash,
                     const CandidateCallback &onHashed)
{
    Selection selection;
    selection.folderExists = true;
    selection.listedAny = !archives.isEmpty();
    for (const QString &name : archives) {
        int index = 0;
        if (!readIndex(name, &index))
            continue;
        const Candidate candidate = hashCandidate(folder, name, index, hash);
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
