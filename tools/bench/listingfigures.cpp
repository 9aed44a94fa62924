// Numbering a crowded device folder: BackupCatalog::nextIndex over 10,000
// archives, which lists the folder and reads every archive's index, against
// the least any listing must do. A stick used for years collects backups.

#include "figures.h"

#include "backupcatalog.h"
#include "measure.h"
#include "mediumlayout.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

using Measure::secondsText;

namespace {

// What any listing of the folder must do at least: read its entries and tell
// regular files from the rest without following links.
int countRegularFiles(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        struct stat info;
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(info.st_mode))
            ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace

bool Figures::listing()
{
    const QString folder = MediumLayout::deviceFolder(path(QStringLiteral("listing")),
                                                       QLatin1String(kSerial));
    QDir().mkpath(folder);
    constexpr int kArchives = 10000;
    for (int index = 1; index <= kArchives; ++index) {
        QFile archive(archiveBase(folder, index)
                      + QLatin1String(MediumLayout::kArchiveExtension));
        if (!archive.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write ") + archive.fileName());
    }
    std::vector<double> ours, theirs;
    for (int round = 0; round < 4 * mOptions.runs + 1; ++round) {
        std::int64_t started = Measure::monotonicNs();
        const int next = BackupCatalog::nextIndex(folder);
        ours.push_back(static_cast<double>(Measure::monotonicNs() - started) / 1e9);
        started = Measure::monotonicNs();
        const int count = countRegularFiles(folder);
        theirs.push_back(static_cast<double>(Measure::monotonicNs() - started) / 1e9);
        if (next != kArchives + 1 || count != kArchives)
            return fail(QStringLiteral("numbering gave %1 for %2 files").arg(next).arg(count));
    }
    addRow(QStringLiteral("`BackupCatalog::nextIndex`, device folder of 10,000 archives"),
           secondsText(Measure::median(ours)),
           QStringLiteral("`readdir` and `lstat` of each entry ") + secondsText(Measure::median(theirs)),
           Measure::median(ours) / Measure::median(theirs));
    return true;
}
