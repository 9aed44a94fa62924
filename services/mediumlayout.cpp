#include "mediumlayout.h"

#include "onmedium.h"

#include <QDir>
#include <QFileInfo>

namespace MediumLayout {

namespace {

// The path with every symbolic link of its existing part resolved; the
// part that does not exist yet is appended as it stands. Empty when a
// dangling link stands on the way: nothing can be created through it.
QString resolved(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    if (info.isSymLink())
        return QString();
    const QString parent = info.path();
    if (parent == path)
        return path;
    const QString resolvedParent = resolved(parent);
    if (resolvedParent.isEmpty())
        return QString();
    // What is missing is made as plain folders, so a ".." after one leads
    // back to the folder it was made in: the written path decides.
    return QDir::cleanPath(resolvedParent + QLatin1Char('/') + info.fileName());
}

// The deepest part of the path that exists: what a folder made at path
// would be made in.
QString nearestExisting(const QString &path)
{
    QString existing = path;
    while (!QFileInfo::exists(existing) && QFileInfo(existing).path() != existing)
        existing = QFileInfo(existing).path();
    return existing;
}

// True when something other than a folder stands between root and folder.
bool blockedOnTheWay(const QString &root, const QString &folder)
{
    for (QString path = folder; path.size() > root.size(); path = QFileInfo(path).path()) {
        const QFileInfo info(path);
        if ((info.exists() && !info.isDir()) || (!info.exists() && info.isSymLink()))
            return true;
    }
    return false;
}

} // namespace

const char *scriptName(Script script)
{
    switch (script) {
    case Script::Backup:
        return "backup_script.sh";
    case Script::Recover:
        return "recover_script.sh";
    case Script::Upgrade:
        return "upgrade_script.sh";
    }
    return "";
}

QString runFolder(const QString &root)
{
    return root + QStringLiteral("/run");
}

QString scriptPath(const QString &root, Script script)
{
    return runFolder(root) + QLatin1Char('/') + QLatin1String(scriptName(script));
}

QString backupDir(const QString &root)
{
    return runFolder(root) + QStringLiteral("/data");
}

QString historyLog(const QString &root, const QString &snum)
{
    QByteArray name = snum.toUtf8();
    for (char &byte : name) {
        // Bytes, as the scripts' tr sees them, whatever the locale.
        const bool kept = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
                          || (byte >= '0' && byte <= '9') || byte == '.' || byte == '-';
        byte = kept ? byte : '_';
    }
    return runFolder(root) + QStringLiteral("/log/")
           + QString::fromLatin1(name.isEmpty() ? QByteArray("_") : name) + QStringLiteral(".log");
}

QString deviceFolder(const QString &root, const QString &snum)
{
    return backupDir(root) + QStringLiteral("/data-") + snum;
}

QString archiveBaseName(const QString &snum, const QString &timeStamp, int index)
{
    return QStringLiteral("data-") + snum + QLatin1Char('-') + timeStamp + QLatin1Char('-')
           + QString::number(index);
}

QString packageFolder(const QString &root)
{
    return runFolder(root) + QStringLiteral("/upgrade");
}

QString packageSideFile(const QString &packagePath)
{
    return packagePath + QStringLiteral(".md5");
}

FolderState folderState(const QString &root, const QString &folder)
{
    if (blockedOnTheWay(root, folder))
        return FolderState::Blocked;
    if (resolved(folder).isEmpty())
        return FolderState::Blocked;
    // What exists of the path must lie inside the medium, both by where its
    // links lead and by file system (another may be mounted on the way).
    // The part still to be made holds no ".." but through a serial, which
    // the device folder's own check keeps inside run/data.
    if (!OnMedium::holds(root, nearestExisting(folder)))
        return FolderState::OffMedium;
    return QFileInfo(folder).isDir() ? FolderState::Exists : FolderState::Missing;
}

FolderState deviceFolderState(const QString &root, const QString &snum)
{
    const QString folder = deviceFolder(root, snum);
    const FolderState state = folderState(root, folder);
    if (state != FolderState::Exists && state != FolderState::Missing)
        return state;
    // The serial is part of the path and may hold "/" and "..": the device
    // folder must still be a folder inside the backup folder.
    if (!resolved(folder).startsWith(resolved(backupDir(root)) + QLatin1Char('/')))
        return FolderState::OffMedium;
    return state;
}

} // namespace MediumLayout
