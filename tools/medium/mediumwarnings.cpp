#include "filesystem.h"
#include "mediumcheck.h"
#include "utils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// The things that trip engineers up on real sticks: each explains a decision
// of the device that would otherwise surprise, or a failure still to come.
namespace MediumCheck {

namespace {

QString relative(const QString &medium, const QString &path)
{
    return QDir(medium).relativeFilePath(path);
}

bool startsWithByteOrderMark(const QByteArray &head)
{
    return head.startsWith("\xEF\xBB\xBF") || head.startsWith("\xFF\xFE")
           || head.startsWith("\xFE\xFF");
}

// A first line whose digest is written in capitals: the device finds no
// digest in it, and the file counts as damaged.
bool upperCaseDigest(const QByteArray &firstLine)
{
    static const QRegularExpression upper(QStringLiteral("[0-9A-F]{32}"));
    const QString line = QString::fromLatin1(firstLine);
    return Utils::md5FromLine(line).isNull() && upper.match(line).hasMatch();
}

void checkSideFile(const QString &medium, const QString &path, QStringList &warnings)
{
    const QString name = relative(medium, path);
    if (!path.endsWith(QLatin1String(".md5")))
        warnings << QStringLiteral("%1: the extension is not in lower case; the device "
                                   "looks for \".md5\" exactly")
                        .arg(name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray firstLine = file.readLine(4096);
    if (startsWithByteOrderMark(firstLine))
        warnings << QStringLiteral("%1: begins with a byte-order mark; md5sum -c in the "
                                   "scripts will not read it")
                        .arg(name);
    if (upperCaseDigest(firstLine))
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
    QDirIterator run(medium + QStringLiteral("/run"), filters, QDirIterator::Subdirectories);
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
        if (fileName.endsWith(QLatin1String(".md5"), Qt::CaseInsensitive))
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
        if (script->present && !script->executable)
            warnings << QStringLiteral("run/%1: no execute bit; the device will not run it "
                                       "(chmod +x, or run \"korvello-medium prepare\")")
                            .arg(script->name);
    }
}

} // namespace

QStringList findWarnings(const Report &report)
{
    QStringList warnings;
    if (!QFileInfo(report.medium + QStringLiteral("/run")).isDir())
        warnings << QStringLiteral("no run/ folder: give the folder that holds run/, or lay one "
                                   "out with \"korvello-medium prepare\"");
    if (report.upgrade.packages.size() > 1)
        warnings << QStringLiteral("%1 packages in run/upgrade; the device takes the last in "
                                   "name order, %2, and never reads version numbers")
                        .arg(report.upgrade.packages.size())
                        .arg(report.upgrade.taken);
    checkScripts(report, warnings);
    checkSizes(report, warnings);
    scanFiles(report.medium, warnings);
    return warnings;
}

} // namespace MediumCheck
