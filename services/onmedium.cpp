#include "onmedium.h"

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

namespace OnMedium {

namespace {

QString sHostMedium;

QStringList roots()
{
    QStringList all = {Platform::resolve(QString::fromLatin1(DevicePaths::kUsbRoot)),
                       Platform::resolve(QString::fromLatin1(DevicePaths::kSdCardRoot))};
    if (!sHostMedium.isEmpty())
        all << sHostMedium;
    return all;
}

bool inside(const QString &path, const QString &root)
{
    return path == root || root == QLatin1String("/")
           || path.startsWith(root + QLatin1Char('/'));
}

bool statOf(const QString &path, struct stat *info)
{
    return ::stat(QFile::encodeName(path).constData(), info) == 0;
}

} // namespace

void setHostMedium(const QString &root)
{
    sHostMedium = QDir::cleanPath(QDir(root).absolutePath());
}

QString rootOf(const QString &path)
{
    const QString cleaned = QDir::cleanPath(QDir(path).absolutePath());
    for (const QString &root : roots()) {
        const QString cleanedRoot = QDir::cleanPath(root);
        if (inside(cleaned, cleanedRoot))
            return cleanedRoot;
    }
    return QString();
}

bool holds(const QString &root, const QString &path)
{
    // The root itself may be reached through a link (a mount point behind
    // one): what counts is where it leads.
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    const QString realPath = QFileInfo(path).canonicalFilePath();
    struct stat rootInfo;
    struct stat pathInfo;
    if (realRoot.isEmpty() || realPath.isEmpty() || !inside(realPath, realRoot))
        return false;
    return statOf(realRoot, &rootInfo) && statOf(realPath, &pathInfo)
           && rootInfo.st_dev == pathInfo.st_dev;
}

bool holdsOpen(const QString &root, const QString &path, int fd)
{
    // The descriptor must be the very file the resolved path names, or a
    // link swapped in between could lead the check and the read apart.
    struct stat opened;
    struct stat named;
    if (!holds(root, path) || ::fstat(fd, &opened) != 0
        || !statOf(QFileInfo(path).canonicalFilePath(), &named))
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace OnMedium
