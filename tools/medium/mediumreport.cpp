#include "mediumcheck.h"

#include "jobdecisions.h"
#include "packageinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

// The report as the engineer reads it: the plans of mediumcheck.cpp in
// words. The lines that state a decision ("next index:", "restores:",
// "takes:", "checksum:", "already installed:", "outcome:") keep their form:
// scripts and tests read them.
namespace MediumCheck {

namespace {

using MediumLayout::FolderState;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + shown(text) + QLatin1Char('"');
}

// There, as a file or a link of any kind.
bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString relative(const Report &report, const QString &path)
{
    return shown(onMedium(report.medium, path));
}

QString scriptLine(const Script &script)
{
    QString state;
    switch (script.state) {
    case ScriptState::Missing:
        state = QStringLiteral("missing");
        break;
    case ScriptState::NotExecutable:
        state = QStringLiteral("not executable");
        break;
    case ScriptState::Unstartable:
        state = QStringLiteral("cannot be started: ") + script.why;
        break;
    case ScriptState::Runnable:
        state = script.reference ? QStringLiteral("executable, the reference script")
                                 : QStringLiteral("executable, a script of your own");
        break;
    }
    return QStringLiteral("  script run/%1: %2\n").arg(script.name, state);
}

QString folderWord(FolderState state, const char *missing)
{
    switch (state) {
    case FolderState::Exists:
        return QStringLiteral("exists");
    case FolderState::Missing:
        return QLatin1String(missing);
    case FolderState::Blocked:
        return QStringLiteral("blocked by a file or a dangling link");
    case FolderState::OffMedium:
        return QStringLiteral("leads off the medium through a link");
    }
    return QString();
}

// "outcome:" followed by the screen's note when the medium decides the end,
// else how the script is run and what the screen shows when it succeeds.
QString outcomeLine(const Outcome &end, const QString &run)
{
    if (end.decided)
        return QStringLiteral("  outcome: the screen shows %1\n").arg(quoted(end.note));
    return QStringLiteral("  outcome: %1; the screen shows %2 when it succeeds\n")
        .arg(run, quoted(end.note));
}

// The job's last run as the medium's history has it.
QString lastRunLine(const Report &report, Job job)
{
    const MediumHistory::Run *run = report.history.last(QLatin1String(jobName(job)));
    return QStringLiteral("  last run: %1\n")
        .arg(run ? shown(MediumHistory::summary(*run)) : QStringLiteral("none recorded"));
}

QString scriptGets(const Script &script, const QString &second, const QString &third)
{
    return QStringLiteral("%1 gets %2 %3").arg(script.name, quoted(second), quoted(third));
}

void renderBackup(QTextStream &out, const Report &report)
{
    const BackupPlan &plan = report.backup;
    out << "\nBackup\n" << scriptLine(plan.script);
    out << "  device folder " << relative(report, plan.deviceFolder) << ": "
        << folderWord(plan.folder, "missing, the device creates it") << "\n";
    out << "  next index: " << plan.nextIndex << "\n";
    if (plan.nextIndex != BackupCatalog::kNoIndex)
        out << "  expected files: " << plan.expectedArchive << " and " << plan.expectedSideFile
            << " (" << kTimeStampPlaceholder << ": the job's start)\n";
    out << outcomeLine(outcome(report, Job::Backup), plan.script.name + QStringLiteral(" runs"));
    out << lastRunLine(report, Job::Backup);
}

} // namespace

QString verdict(const BackupCatalog::Candidate &candidate, const RestorePlan &plan)
{
    using JobDecisions::Candidacy;
    const QString sideFile = shown(QFileInfo(candidate.sideFilePath).fileName());
    const SideFile::Check &digests = candidate.digests;
    switch (JobDecisions::candidacy(candidate, plan.selection)) {
    case Candidacy::Taken:
        if (candidate.fileName == plan.restoredFileName)
            return QStringLiteral("restored: the intact archive with the highest index");
        return QStringLiteral("restored as %1, the name the device hashes: the intact archive "
                              "with the highest index")
            .arg(shown(plan.restoredFileName));
    case Candidacy::TakenAsTwin:
        return QStringLiteral("restored through the name listed before it: both are hashed "
                              "as %1")
            .arg(shown(plan.restoredFileName));
    case Candidacy::Unreadable:
        return QStringLiteral("passed over: the archive cannot be read as %1")
            .arg(shown(QFileInfo(candidate.archivePath).fileName()));
    case Candidacy::NoSideFile:
        return QStringLiteral("passed over: no side file %1").arg(sideFile);
    case Candidacy::NoDigest:
        return QStringLiteral("passed over: the side file %1 yields no digest").arg(sideFile);
    case Candidacy::DigestsDiffer:
        return QStringLiteral("passed over: digests differ (archive %1, side file %2)")
            .arg(digests.calMd5, digests.fileMd5);
    case Candidacy::IndexZero:
        return QStringLiteral("passed over: index 0 is never restored");
    case Candidacy::SameIndexLater:
        return QStringLiteral("passed over: same index as the chosen archive, "
                              "which comes first in name order");
    case Candidacy::Older:
        break;
    }
    return QStringLiteral("passed over: older than the chosen archive");
}

namespace {

QString deviceLine(const std::optional<DeviceFit::Refusal> &device)
{
    return device ? QStringLiteral("  ") + PackageInfo::refusalLine(*device) : QString();
}

void renderRestore(QTextStream &out, const Report &report)
{
    const RestorePlan &plan = report.restore;
    out << "\nRestoration\n" << scriptLine(plan.script);
    out << "  device folder " << relative(report, plan.deviceFolder) << ": ";
    if (plan.folder == FolderState::Exists)
        out << plan.listed.size() << " archive(s) listed\n";
    else
        out << folderWord(plan.folder, "missing") << "\n";
    for (const BackupCatalog::Candidate &candidate : plan.candidates)
        out << "  archive " << shown(candidate.fileName) << " (index " << candidate.index
            << "): " << verdict(candidate, plan) << "\n";
    if (plan.chosenFileName.isEmpty())
        out << "  restores: nothing\n";
    else
        out << "  restores: " << shown(plan.restoredFileName) << " (index " << plan.chosenIndex
            << ")\n";
    out << deviceLine(plan.device);
    out << outcomeLine(outcome(report, Job::Restore),
                       scriptGets(plan.script, plan.restoredFileName,
                                  QString::number(plan.chosenIndex)));
    out << lastRunLine(report, Job::Restore);
}

QString sideFileWord(const UpgradeCatalog::PackageCheck &check)
{
    if (!check.digests.fileMd5.isEmpty())
        return check.digests.fileMd5;
    return present(check.sideFilePath) ? QStringLiteral("without a digest")
                                       : QStringLiteral("missing");
}

void renderChecksum(QTextStream &out, const UpgradeCatalog::PackageCheck &check)
{
    const SideFile::Check &digests = check.digests;
    if (check.verified()) {
        out << "  checksum: holds (" << digests.calMd5 << ")\n";
        return;
    }
    out << "  checksum: fails (package "
        << (digests.calMd5.isEmpty() ? QStringLiteral("unreadable") : digests.calMd5)
        << ", side file " << sideFileWord(check) << ")\n";
}

void renderVersions(QTextStream &out, const UpgradePlan &plan)
{
    out << "  package version: " << quoted(plan.packageVersion) << "\n";
    if (!plan.versionKnown) {
        out << "  already installed: unknown (give --version-file)\n";
        return;
    }
    out << "  device version: " << quoted(plan.deviceVersion) << "\n";
    out << "  already installed: " << (plan.alreadyInstalled ? "yes" : "no") << "\n";
}

void renderUpgrade(QTextStream &out, const Report &report)
{
    const UpgradePlan &plan = report.upgrade;
    out << "\nUpgrade\n" << scriptLine(plan.script);
    out << "  package folder run/upgrade: ";
    if (plan.folderState == FolderState::Exists)
        out << plan.packages.size() << " package(s)\n";
    else
        out << folderWord(plan.folderState, "missing") << "\n";
    for (const QString &name : plan.packages)
        out << "  package " << shown(name) << "\n";
    if (plan.taken.isEmpty()) {
        out << "  takes: nothing\n";
    } else {
        out << "  takes: " << shown(plan.taken) << "\n";
        renderChecksum(out, plan.check);
        if (plan.check.verified())
            renderVersions(out, plan);
    }
    out << deviceLine(plan.device);
    out << outcomeLine(outcome(report, Job::Upgrade),
                       scriptGets(plan.script, plan.taken, QStringLiteral("0")));
    out << lastRunLine(report, Job::Upgrade);
}

} // namespace

QString shown(const QString &text)
{
    QString result;
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            result += c;
        else if (c == QLatin1Char('\r'))
            result += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            result += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            result += QLatin1String("\\t");
        else
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return result;
}

QString render(const Report &report)
{
    QString text;
    QTextStream out(&text);
    out << "Medium " << shown(report.medium) << " (file system: " << report.fileSystem << ")\n";
    out << "Serial (snum): " << quoted(report.snum) << "\n";
    renderBackup(out, report);
    renderRestore(out, report);
    renderUpgrade(out, report);
    if (!report.warnings.isEmpty()) {
        out << "\nWarnings\n";
        for (const QString &warning : report.warnings)
            out << "  warning: " << warning << "\n";
    }
    out.flush();
    return text;
}

} // namespace MediumCheck
