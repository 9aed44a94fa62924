#include "figures.h"

#include "backupcatalog.h"
#include "filedigest.h"
#include "measure.h"
#include "mediumlayout.h"
#include "platform.h"
#include "screenframe.h"
#include "screentraits.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Measure::Run;
using MediumLayout::Script;

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kGiB = 1 << 30;
constexpr char kSerial[] = "BENCH";
constexpr char kTimeStamp[] = "20260101000000";

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

// A bench backup's path in a device folder, without extension.
QString archiveBase(const QString &deviceFolder, int index)
{
    const QString name =
        MediumLayout::archiveBaseName(QLatin1String(kSerial), QLatin1String(kTimeStamp), index);
    return deviceFolder + QLatin1Char('/') + name;
}

double medianWall(const std::vector<Run> &runs)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(run.wallSeconds);
    return Measure::median(values);
}

double medianPeakKiB(const std::vector<Run> &runs)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(static_cast<double>(run.peakKiB));
    return Measure::median(values);
}

struct Alternated
{
    std::vector<Run> korvello;
    std::vector<Run> reference;
    QString failure;  // the first command that did not end with 0
};

// Runs both commands `runs` times each and swaps which goes first every
// round, so whatever else the machine does falls on both alike.
Alternated alternate(const QStringList &korvello, const QStringList &reference, int runs,
                     bool cold, const QString &outputFile)
{
    Alternated result;
    for (int round = 0; round < runs; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool korvelloTurn = (turn == 0) == (round % 2 == 0);
            const QStringList &command = korvelloTurn ? korvello : reference;
            if (cold)
                Measure::dropCaches();
            const Run run = Measure::run(command, outputFile);
            if (run.exitCode != 0 && result.failure.isEmpty())
                result.failure = command.join(QLatin1Char(' ')) + QStringLiteral(": ")
                                 + QString::fromLocal8Bit(run.output.right(400));
            (korvelloTurn ? result.korvello : result.reference).push_back(run);
        }
    }
    return result;
}

// Reads files once so that the runs after it find them in the page cache.
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

// The first debug line holding `marker`: the seconds since the simulator's
// start at which it was written (QT_MESSAGE_PATTERN puts them in front), -1
// when there is none, and the text after the marker.
double loggedAt(const QByteArray &log, const QString &marker, QString *rest = nullptr)
{
    static const QRegularExpression timed(QStringLiteral("^\\s*(\\d+\\.\\d+) (.*)$"));
    for (const QString &line : QString::fromUtf8(log).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = timed.match(line);
        const int at = match.hasMatch() ? match.captured(2).indexOf(marker) : -1;
        if (at < 0)
            continue;
        if (rest)
            *rest = match.captured(2).mid(at + marker.size()).trimmed();
        return match.captured(1).toDouble();
    }
    return -1;
}

} // namespace

Figures::Figures(const Options &options)
    : mOptions(options)
    , mCold(Measure::canDropCaches())
{
    if (!mCold)
        mNotes << QStringLiteral("Not run as root: the page cache could not be dropped, so "
                                 "every cold figure is missing.");
}

QStringList Figures::allSections()
{
    return {QStringLiteral("digest"), QStringLiteral("restoration"), QStringLiteral("backup"),
            QStringLiteral("listing"), QStringLiteral("crowds"), QStringLiteral("startup")};
}

bool Figures::measure()
{
    const std::vector<std::pair<QString, bool (Figures::*)()>> sections = {
        {QStringLiteral("digest"), &Figures::digest},
        {QStringLiteral("restoration"), &Figures::restoration},
        {QStringLiteral("backup"), &Figures::backupJob},
        {QStringLiteral("listing"), &Figures::listing},
        {QStringLiteral("crowds"), &Figures::crowds},
        {QStringLiteral("startup"), &Figures::startUp},
    };
    for (const auto &section : sections) {
        if (!mOptions.sections.contains(section.first))
            continue;
        fprintf(stderr, "korvello-bench: measuring %s\n", qPrintable(section.first));
        const bool measured = (this->*section.second)();
        // Each section's data goes before the next is written.
        QDir(path(section.first)).removeRecursively();
        if (!measured)
            return false;
    }
    return true;
}

void Figures::print() const
{
    printf("| figure | Korvello | reference | reference's figure | Korvello / reference |\n"
           "|---|---|---|---|---|\n");
    for (const Row &row : mRows) {
        const QString ratio = row.ratio < 0 ? QStringLiteral("") : QString::number(row.ratio, 'f', 2);
        // A reference reads "what it is" then its value and unit: one column each.
        const QString name = row.reference.section(QLatin1Char(' '), 0, -3);
        const QString value = row.reference.section(QLatin1Char(' '), -2);
        printf("| %s | %s | %s | %s | %s |\n", row.figure.toUtf8().constData(),
               row.korvello.toUtf8().constData(), name.toUtf8().constData(),
               value.toUtf8().constData(), ratio.toUtf8().constData());
    }
    if (!mNotes.isEmpty())
        printf("\n");
    for (const QString &note : mNotes)
        printf("- %s\n", note.toUtf8().constData());
    fflush(stdout);
}

QString Figures::path(const QString &name) const
{
    return mOptions.work + QLatin1Char('/') + name;
}

QString Figures::outputFile() const
{
    return path(QStringLiteral("output.txt"));
}

void Figures::addRow(const QString &figure, const QString &korvello, const QString &reference,
                     double ratio)
{
    mRows.append(Row{figure, korvello, reference, ratio});
}

bool Figures::fail(const QString &why) const
{
    fprintf(stderr, "korvello-bench: %s\n", why.toLocal8Bit().constData());
    return false;
}

// calculateFileMD5 in a process of its own against md5sum on the same file,
// warm and cold, and the peak resident size of both.
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

// The restoration's choice hashes every backup of the device folder.
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

// A whole backup: the real reference script run by the simulated tool, then
// the tool's verification, against tar writing the same data alone.
bool Figures::backupJob()
{
    const QString root = path(QStringLiteral("backup"));
    const QString data = root + QStringLiteral("/data");
    // The simulator's default device type keeps its medium on the USB stick.
    const QString medium = root + QLatin1String(DevicePaths::kUsbRoot);
    const QString run = MediumLayout::runFolder(medium);
    const QString scriptName = QLatin1String(MediumLayout::scriptName(Script::Backup));
    const QString script = MediumLayout::scriptPath(medium, Script::Backup);
    QDir().mkpath(data);
    QDir().mkpath(run);
    QFile::remove(script);
    if (!QFile::copy(mOptions.mediumDir + QLatin1Char('/') + scriptName, script)
        || !QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner))
        return fail(QStringLiteral("cannot put %1 into %2").arg(scriptName, run));
    constexpr int kDataFiles = 16;
    for (int i = 0; i < kDataFiles; ++i) {
        const QString file = data + QStringLiteral("/file-") + QString::number(i);
        if (!Measure::writeDataFile(file, kGiB / kDataFiles))
            return fail(QStringLiteral("cannot write ") + file);
    }
    const QString tarFile = root + QStringLiteral("/reference.tar");
    const QString control = QString::number(Screens::kBackup.autoStartControl);
    const QStringList simulator = {mOptions.simulator, QStringLiteral("--root"), root,
                                   QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                   QStringLiteral("-c"), control};
    const QStringList environment = {
        QStringLiteral("snum=") + QLatin1String(kSerial),
        QStringLiteral("QT_MESSAGE_PATTERN=%{time process} %{message}")};
    const QStringList tar = {QStringLiteral("tar"), QStringLiteral("-cf"), tarFile,
                             QStringLiteral("-C"), data, QStringLiteral(".")};
    std::vector<double> jobs, scripts, checks, tars, md5sums, md5sumsAfterDropCaches;
    for (int round = 0; round < mOptions.runs; ++round) {
        QDir(MediumLayout::backupDir(medium)).removeRecursively();
        ::sync();
        readThrough(filesIn(data));
        const Run job = Measure::run(simulator, outputFile(), environment);
        const double loaded = loggedAt(job.output, QStringLiteral("slot_toLoadTimeOut"));
        const double scriptEnded = loggedAt(job.output, QStringLiteral("Script execution completed"));
        const double checking = loggedAt(job.output, QStringLiteral("slot_toCheckTimeOut"));
        QString calMd5, fileMd5;
        loggedAt(job.output, QStringLiteral(" calMd5 "), &calMd5);
        const double checked = loggedAt(job.output, QStringLiteral(" fileMd5 "), &fileMd5);
        if (job.exitCode != 0 || calMd5.size() != 34 || calMd5 != fileMd5 || loaded < 0
            || scriptEnded < 0 || checking < 0 || checked < 0)
            return fail(QStringLiteral("the simulated backup did not succeed:\n")
                        + QString::fromUtf8(job.output.right(2000)));
        scripts.push_back(scriptEnded - loaded);
        checks.push_back(checked - checking);
        jobs.push_back(scripts.back() + checks.back());

        // The same read as the verification's: an archive of the same data,
        // freshly written and synced, its pages dropped the way the check
        // drops them. After a freshly written file's pages are dropped, this
        // kernel spends far more system time reading it again than after
        // drop_caches, so that read is measured too, for comparison.
        readThrough(filesIn(data));
        const Run tarRun = Measure::run(tar, outputFile());
        if (tarRun.exitCode != 0)
            return fail(QStringLiteral("tar failed: ") + QString::fromLocal8Bit(tarRun.output));
        tars.push_back(tarRun.wallSeconds);
        ::sync();
        FileDigest::dropCachedPages(tarFile);
        const QStringList md5sum = {QStringLiteral("md5sum"), tarFile};
        md5sums.push_back(Measure::run(md5sum, outputFile()).wallSeconds);
        if (mCold) {
            Measure::dropCaches();
            md5sumsAfterDropCaches.push_back(Measure::run(md5sum, outputFile()).wallSeconds);
        }
        QFile::remove(tarFile);
    }
    const double tarTime = Measure::median(tars);
    addRow(QStringLiteral("backup job of 1 GiB: script, then verification"),
           secondsText(Measure::median(jobs)), QStringLiteral("`tar` alone ") + secondsText(tarTime),
           Measure::median(jobs) / tarTime);
    addRow(QStringLiteral("of which the script `%1`").arg(scriptName),
           secondsText(Measure::median(scripts)),
           QStringLiteral("`tar` alone ") + secondsText(tarTime), Measure::median(scripts) / tarTime);
    addRow(QStringLiteral("of which the verification, read from the medium"),
           secondsText(Measure::median(checks)),
           QStringLiteral("`md5sum` of `tar`'s archive, its pages dropped alike ")
               + secondsText(Measure::median(md5sums)),
           Measure::median(checks) / Measure::median(md5sums));
    if (mCold)
        mNotes << QStringLiteral("`md5sum` of `tar`'s archive read after `drop_caches` instead of "
                                 "dropping only its own pages: %1.")
                      .arg(secondsText(Measure::median(md5sumsAfterDropCaches)));
    mNotes << QStringLiteral("The backup job runs in `korvello-sim --root DIR -platform offscreen "
                             "-c %1`; its time is taken from the tool's debug log and leaves out "
                             "the screen's fixed delays (0.1 s before the script, 0.8 s before "
                             "the verification) and the countdown. The data is in the page cache "
                             "for the job and for `tar`; the archive goes to the same file system.")
                      .arg(control);
    return true;
}

// Numbering a device folder lists it and reads every archive's index.
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
    const QString archives = MediumLayout::deviceFolder(medium, QLatin1String(kSerial));
    const QString packages = MediumLayout::packageFolder(medium);
    if (!QDir().mkpath(archives) || !QDir().mkpath(packages))
        return false;
    for (int index = 1; index <= count; ++index) {
        const QString base = archiveBase(archives, index);
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

// The peak resident size of listing, sorting and choosing among many
// backups (every one hashed, as the restoration does) and many packages,
// beside the same process over empty folders: it must not grow with the
// folder.
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

// From the start of the process to the first paint of its window.
bool Figures::startUp()
{
    const QString root = path(QStringLiteral("startup"));
    QDir().mkpath(root);
    const QStringList platform = {QStringLiteral("-platform"), QStringLiteral("offscreen")};
    const QStringList menu = QStringList{mOptions.self, QStringLiteral("menu"), root} + platform;
    const QStringList bare = QStringList{mOptions.self, QStringLiteral("bare")} + platform;
    const Alternated runs = alternate(menu, bare, 2 * mOptions.runs + 1, false, outputFile());
    if (!runs.failure.isEmpty())
        return fail(runs.failure);
    auto paintedAfter = [](const std::vector<Run> &list) {
        std::vector<double> values;
        static const QRegularExpression painted(QStringLiteral("painted (\\d+)"));
        for (const Run &run : list) {
            const QRegularExpressionMatch match = painted.match(QString::fromLatin1(run.output));
            if (match.hasMatch())
                values.push_back(static_cast<double>(match.captured(1).toLongLong() - run.startedNs)
                                 / 1e9);
        }
        return values.size() == list.size() ? Measure::median(values) : -1.0;
    };
    const double ours = paintedAfter(runs.korvello);
    const double theirs = paintedAfter(runs.reference);
    if (ours < 0 || theirs < 0)
        return fail(QStringLiteral("a window did not report its first paint"));
    addRow(QStringLiteral("start-up to the menu painted"), secondsText(ours),
           QStringLiteral("bare %1x%2 Qt window painted ")
                   .arg(ScreenFrame::kScreenWidth)
                   .arg(ScreenFrame::kScreenHeight)
               + secondsText(theirs),
           ours / theirs);
    mNotes << QStringLiteral("Start-up runs on the offscreen platform, from the process's start "
                             "to the end of its window's first paint; both link the same "
                             "libraries.");
    return true;
}
