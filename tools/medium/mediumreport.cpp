#include "mediumcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

// The report as the engineer reads it. The lines that state a decision
// ("next index:", "restores:", "takes:", "checksum:", "already installed:")
// keep their form: scripts and tests read them.
namespace MediumCheck {

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString scriptLine(const Script &script)
{
    QString state = QStringLiteral("executable");
    if (!script.present)
        state = QStringLiteral("missing");
    else if (!script.executable)
        state = QStringLiteral("not executable");
    return QStringLiteral("  script run/%1: %2\n").arg(script.name, state);
}

// The runner's own note when the script cannot be run.
QString runnerNote(const Script &script)
{
    if (!script.present)
        return QStringLiteral("備份腳本不存在");
    return QStringLiteral("備份腳本不可運行");
}

QString backupOutcome(const BackupPlan &plan)
{
    if (plan.folderBlocked)
        return QStringLiteral(
            "the device folder cannot be made; the screen shows \"創建備份檔夾失敗\""
            " and no script runs");
    if (plan.nextIndex == BackupCatalog::kNoIndex)
        return QStringLiteral("no next index is left; no script runs");
    if (!plan.script.runnable())
        return QStringLiteral("the screen shows \"%1\"").arg(runnerNote(plan.script));
    return QStringLiteral("the script runs; the device then verifies the expected files");
}

void renderBackup(QTextStream &out, const Report &report)
{
    const BackupPlan &plan = report.backup;
    out << "\nBackup\n" << scriptLine(plan.script);
    out << "  device folder " << QDir(report.medium).relativeFilePath(plan.deviceFolder) << ": "
        << (plan.folderBlocked  ? "blocked by a file"
            : plan.folderExists ? "exists"
                                : "missing, the device creates it")
        << "\n";
    out << "  next index: " << plan.nextIndex << "\n";
    if (plan.nextIndex != BackupCatalog::kNoIndex)
        out << "  expected files: " << plan.expectedArchive << " and " << plan.expectedSideFile
            << " (" << kTimeStampPlaceholder << ": the job's start)\n";
    out << "  outcome: " << backupOutcome(plan) << "\n";
}

QString restoreOutcome(const RestorePlan &plan)
{
    if (plan.chosenFileName.isEmpty())
        return QStringLiteral("the screen shows \"備份檔不存在\"; no script runs");
    if (!plan.script.runnable())
        return QStringLiteral("the script cannot run; the screen shows \"數據還原失敗\"");
    return QStringLiteral("recover_script.sh gets %1 %2")
        .arg(quoted(plan.chosenFileName))
        .arg(quoted(QString::number(plan.chosenIndex)));
}

void renderRestore(QTextStream &out, const Report &report)
{
    const RestorePlan &plan = report.restore;
    out << "\nRestoration\n" << scriptLine(plan.script);
    out << "  device folder " << QDir(report.medium).relativeFilePath(plan.deviceFolder) << ": ";
    if (plan.folderExists)
        out << plan.listed.size() << " archive(s) listed\n";
    else
        out << "missing\n";
    for (const RestoreCandidate &entry : plan.candidates)
        out << "  archive " << entry.candidate.fileName << " (index " << entry.candidate.index
            << "): " << entry.verdict << "\n";
    if (plan.chosenFileName.isEmpty())
        out << "  restores: nothing\n";
    else
        out << "  restores: " << plan.chosenFileName << " (index " << plan.chosenIndex << ")\n";
    out << "  outcome: " << restoreOutcome(plan) << "\n";
}

QString upgradeOutcome(const UpgradePlan &plan)
{
    if (plan.taken.isEmpty())
        return QStringLiteral("the screen shows \"升級包不存在\"; no script runs");
    if (!plan.check.verified)
        return QStringLiteral("the screen shows \"升級包校驗錯誤\"; no script runs");
    if (plan.alreadyInstalled)
        return QStringLiteral("the screen shows \"已經是最新版本: %1\"; no script runs, and the "
                              "device waits for the medium to be pulled out before it reboots")
            .arg(plan.packageVersion);
    if (!plan.script.runnable())
        return QStringLiteral("the screen shows \"%1\"").arg(runnerNote(plan.script));
    return QStringLiteral("upgrade_script.sh gets %1 \"0\"; it succeeds when the first line of "
                          "the version file reads %2 afterwards")
        .arg(quoted(plan.taken), quoted(plan.packageVersion));
}

void renderChecksum(QTextStream &out, const UpgradeCatalog::PackageCheck &check)
{
    if (check.verified) {
        out << "  checksum: holds (" << check.calMd5 << ")\n";
        return;
    }
    out << "  checksum: fails (package " << (check.calMd5.isEmpty() ? "unreadable" : check.calMd5)
        << ", side file "
        << (check.fileMd5.isEmpty() ? QStringLiteral("without a lowercase digest") : check.fileMd5)
        << ")\n";
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
    if (plan.folderExists)
        out << plan.packages.size() << " package(s)\n";
    else
        out << "missing\n";
    for (const QString &name : plan.packages)
        out << "  package " << name << "\n";
    if (plan.taken.isEmpty()) {
        out << "  takes: nothing\n";
    } else {
        out << "  takes: " << plan.taken << "\n";
        renderChecksum(out, plan.check);
        if (plan.check.verified)
            renderVersions(out, plan);
    }
    out << "  outcome: " << upgradeOutcome(plan) << "\n";
}

} // namespace

QString render(const Report &report)
{
    QString text;
    QTextStream out(&text);
    out << "Medium " << report.medium << " (file system: " << report.fileSystem << ")\n";
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
