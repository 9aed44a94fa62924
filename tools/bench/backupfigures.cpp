// A whole backup job as the engineer waits for it: the real reference
// script run by the simulated tool, then the tool's verification, against
// tar writing the same data alone and md5sum reading its archive. The job
// should cost about what its two passes over the data cost.

#include "figures.h"

#include "filedigest.h"
#include "measure.h"
#include "mediumlayout.h"
#include "platform.h"
#include "screentraits.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

using Measure::secondsText;
using Measure::readThrough;
using Measure::filesIn;
using Measure::kGiB;
using Measure::Run;
using MediumLayout::Script;

namespace {

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
