#include "filenames.h"
#include "filesystem.h"
#include "mediumcheck.h"
#include "regularfile.h"
#include "sidefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// The things that trip engineers up on real sticks: each explains a decision
// of the device that would otherwise surprise, or a failure still to come.
namespace MediumCheck {

namespace {

using MediumLayout::FolderState;

QString relative(const QString &medium, const QString &path)
{
    return shown(onMedium(medium, path));
}

bool startsWithByteOrderMark(const QByteArray &head)
{
    return head.startsWith("\xEF\xBB\xBF") || head.startsWith("\xFF\xFE")
           || head.startsWith("\xFE\xFF");
}

void checkSideFile(const QString &medium, const QString &path, QStringList &warnings)
{
    const QString name = relative(medium, path);
    if (!path.endsWith(QLatin1String(MediumLayout::kArchiveSideExtension)))
        warnings << QStringLiteral("%1: the extension is not in lower case; the device "
                                   "looks for \".md5\" exactly")
                        .arg(name);
    QFile file;
    if (!RegularFile::open(file, path)) {
        warnings << QStringLiteral("%1: not a regular file; the device reads no digest from it")
                        .arg(name);
        return;
    }
    if (startsWithByteOrderMark(file.read(4)))
        warnings << QStringLiteral("%1: begins with a byte-order mark; the device and the "
                                   "scripts read it, md5sum -c on a computer does not")
                        .arg(name);
    static const QRegularExpression upper(QStringLiteral("[0-9A-F]{32}"));
    const SideFile::Reading reading = SideFile::read(path);
    if (reading.status == SideFile::Reading::NoDigest && upper.match(reading.lineHead).hasMatch())
        warnings << QStringLiteral("%1: the digest is in upper case; the device reads no "
                                   "digest from it")
                        .arg(name);
}

void scanFiles(const QString &medium, QStringList &warnings)
{
    const QDir::Filters filters = QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QStringList seen;
    QDirIterator top(medium, filters);
    while (top.hasNext())
        seen << top.next();
    // Links to folders are not followed: only the medium itself is read.
    QDirIterator run(MediumLayout::runFolder(medium), filters, QDirIterator::Subdirectories);
    while (run.hasNext())
        seen << run.next();
    seen.sort();
    for (const QString &path : seen) {
        const QString fileName = QFileInfo(path).fileName();
        if (fileName.startsWith(QLatin1String("._"))) {
            warnings << QStringLiteral("%1: a \"._\" file left by another system; "
                                       "safe to delete")
                            .arg(relative(medium, path));
            continue;
        }
        if (FileNames::hasStrayBytes(fileName))
            warnings << QStringLiteral("%1: the name is not valid UTF-8; the device and the "
                                       "scripts take it byte for byte, a computer may show "
                                       "or copy it otherwise")
                            .arg(relative(medium, path));
        if (fileName.endsWith(QLatin1String(MediumLayout::kArchiveSideExtension),
                              Qt::CaseInsensitive))
            checkSideFile(medium, path, warnings);
    }
}

void checkSizes(const Report &report, QStringList &warnings)
{
    QStringList paths;
    for (const QString &name : report.restore.listed)
        paths << report.restore.deviceFolder + QLatin1Char('/') + name;
    for (const QString &name : report.upgrade.packages)
        paths << report.upgrade.folder + QLatin1Char('/') + name;
    for (const QString &path : paths) {
        if (MediumFileSystem::tooLargeForFat(QFileInfo(path).size(), report.fileSystem))
            warnings << QStringLiteral("%1: 4 GiB or more on a FAT file system; it cannot be "
                                       "whole there")
                            .arg(relative(report.medium, path));
    }
}

void checkScripts(const Report &report, QStringList &warnings)
{
    for (const Script *script :
         {&report.backup.script, &report.restore.script, &report.upgrade.script}) {
        if (script->state == ScriptState::NotExecutable)
            warnings << QStringLiteral("run/%1: no execute bit; the device will not run it "
                                       "(chmod +x, or run \"korvello-medium prepare\")")
                            .arg(script->name);
        if (script->state == ScriptState::Unstartable)
            warnings << QStringLiteral("run/%1: the device cannot start it: %2")
                            .arg(script->name, script->why);
    }
}

// Folders that a job writes into or hands to its script.
void checkFolders(const Report &report, QStringList &warnings)
{
    const struct
    {
        QString path;
        FolderState state;
    } folders[] = {
        {report.backup.deviceFolder, report.backup.folder},
        {report.upgrade.folder, report.upgrade.folderState},
    };
    for (const auto &folder : folders) {
        const QString name = relative(report.medium, folder.path);
        if (folder.state == FolderState::OffMedium)
            warnings << QStringLiteral("%1 leads off the medium through a symbolic link; the "
                                       "device neither writes nor reads there")
                            .arg(name);
        else if (folder.state == FolderState::Blocked)
            warnings << QStringLiteral("%1: a file or a dangling symbolic link stands on the "
                                       "way; the device cannot use the folder")
                            .arg(name);
    }
}

void checkPackages(const Report &report, QStringList &warnings)
{
    const UpgradePlan &upgrade = report.upgrade;
    if (upgrade.packages.size() > 1)
        warnings << QStringLiteral("%1 packages in run/upgrade; the device takes the last in "
                                   "name order, %2, and never reads version numbers")
                        .arg(upgrade.packages.size())
                        .arg(shown(upgrade.taken));
    if (!upgrade.taken.isEmpty() && upgrade.packageVersion.isEmpty())
        warnings << QStringLiteral("run/upgrade/%1: the device takes it but cuts no version "
                                   "from its name (\"update-\" and \".tar\" count in lower "
                                   "case only); the reference upgrade script refuses it")
                        .arg(shown(upgrade.taken));
}

void checkSerial(const Report &report, QStringList &warnings)
{
    if (report.snum.isEmpty())
        warnings << QStringLiteral("the serial is empty (snum unset): the device names its "
                                   "folder run/data/data- and its backups data--TIMESTAMP-N.tar");
    if (!report.restore.chosenFileName.isEmpty())
        return;
    // Backups of other devices explain a restoration that finds nothing.
    const QString own = QFileInfo(report.restore.deviceFolder).fileName();
    QStringList others = QDir(MediumLayout::backupDir(report.medium))
                             .entryList({QStringLiteral("data-*")}, QDir::Dirs | QDir::Hidden);
    others.removeAll(own);
    if (!others.isEmpty())
        warnings << QStringLiteral("run/data holds %1 but not %2: the device restores only the "
                                   "backups of its own serial")
                        .arg(shown(others.join(QStringLiteral(", "))), shown(own));
}

// Files the device passes over without a word: what looks like a package
// but is not in the device's own listing (another name, or a link).
void checkIgnoredPackages(const Report &report, QStringList &warnings)
{
    const QStringList names = QDir(report.upgrade.folder)
                                  .entryList({QStringLiteral("*.tar")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        if (!report.upgrade.packages.contains(name) && !name.startsWith(QLatin1String("._")))
            warnings << QStringLiteral("run/upgrade/%1: not taken; the device lists only files, "
                                       "not links, of the form %2")
                            .arg(shown(name), QLatin1String(MediumLayout::kPackagePattern));
    }
}

void checkVersionFile(const Report &report, QStringList &warnings)
{
    if (report.upgrade.deviceVersion.contains(QLatin1Char('\r')))
        warnings << QStringLiteral("the version file's first line ends in a carriage return "
                                   "(CR LF line ends): the device keeps it, so no package "
                                   "counts as installed");
}

} // namespace

QStringList findWarnings(const Report &report)
{
    QStringList warnings;
    if (!QFileInfo(MediumLayout::runFolder(report.medium)).isDir())
        warnings << QStringLiteral("no run/ folder: give the folder that holds run/, or lay one "
                                   "out with \"korvello-medium prepare\"");
    checkSerial(report, warnings);
    checkFolders(report, warnings);
    checkPackages(report, warnings);
    checkIgnoredPackages(report, warnings);
    checkVersionFile(report, warnings);
    checkScripts(report, warnings);
    checkSizes(report, warnings);
    scanFiles(report.medium, warnings);
    return warnings;
}

} // namespace MediumCheck
