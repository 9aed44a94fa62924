#include "devicefit.h"

#include "platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <sys/stat.h>

namespace DeviceFit {

namespace {

using DevicePaths::kVersionFile;
// As the reference scripts keep them (DATA_DIR, MARGIN_KIB).
const char kDataDir[] = "/data";
const qint64 kMarginKib = 1024;
const qint64 kKib = 1024;

Refusal refuse(int exitCode, const QString &why)
{
    return Refusal{exitCode, why};
}

// The device's "/" as the scripts put it in front of their paths.
QString rootOf(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    return clean == QLatin1String("/") ? QString() : clean;
}

// A path under the device's "/" as the device names it.
QString onDevice(const QString &root, const QString &path)
{
    const QString name = path.mid(root.size());
    return name.isEmpty() ? QStringLiteral("/") : name;
}

// The scripts' "df -Pk": what an unprivileged writer may still use.
Refusal room(const QString &folder, qint64 needKib)
{
    const qint64 haveKib = QStorageInfo(folder).bytesAvailable() / kKib;
    if (haveKib >= needKib)
        return Refusal();
    return refuse(kRoom, QStringLiteral("not enough room on the device: %1 KiB needed, %2 KiB free")
                             .arg(needKib)
                             .arg(haveKib));
}

// A folder the upgrade creates or writes into must be writable; a parent
// that is not a folder is left to the other rules.
Refusal writable(const QString &root, const QString &name)
{
    const QString parent = QFileInfo(root + name).path();
    const QFileInfo there(parent);
    if (there.isDir() && !there.isWritable())
        return refuse(kConflict, QStringLiteral("conflict: %1 cannot be written")
                                     .arg(onDevice(root, parent)));
    return Refusal();
}

bool present(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

Refusal versionFile(const QString &root)
{
    const QFileInfo file(root + QLatin1String(kVersionFile));
    if (present(file) && (!file.isFile() || file.isSymLink()))
        return refuse(kConflict, QStringLiteral("conflict: %1 is not a regular file")
                                     .arg(QLatin1String(kVersionFile)));
    return writable(root, QLatin1String(kVersionFile));
}

dev_t deviceOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : 0;
}

} // namespace

Payload::Payload(const QString &deviceRoot) : root(rootOf(deviceRoot)) {}

void Payload::add(const QString &name)
{
    // tar may list a file without its folders: they are unpacked all the
    // same. A folder's own name ends in "/".
    for (int slash = name.indexOf(QLatin1Char('/')); slash > 0;
         slash = name.indexOf(QLatin1Char('/'), slash + 1))
        addFolder(name.left(slash));
    if (!name.isEmpty() && !name.endsWith(QLatin1Char('/')) && name != QLatin1String("."))
        addOther(name);
}

void Payload::addFolder(const QString &name)
{
    if (folder.refused() || folders.contains(name))
        return;
    folders.insert(name);
    const QFileInfo target(root + QLatin1Char('/') + name);
    if (target.isSymLink())
        folder = refuse(kConflict, QStringLiteral("conflict: /%1 is a symbolic link on the way of "
                                                  "the package's folder").arg(name));
    else if (target.exists() && !target.isDir())
        folder = refuse(kConflict, QStringLiteral("conflict: /%1 is a file on the device, a folder "
                                                  "in the package").arg(name));
    else if (!target.exists())
        folder = writable(root, QLatin1Char('/') + name);
}

void Payload::addOther(const QString &name)
{
    if (other.refused())
        return;
    const QString target = root + QLatin1Char('/') + name;
    // isDir follows a link: a link to a folder counts as a folder.
    if (QFileInfo(target).isDir())
        other = refuse(kConflict, QStringLiteral("conflict: /%1 is a folder on the device, a file "
                                                 "in the package").arg(name));
    else if (QFileInfo(target + QLatin1String(".korvello-new")).isDir()
             || QFileInfo(target + QLatin1String(".korvello-old")).isDir())
        other = refuse(kConflict, QStringLiteral("conflict: /%1.korvello-new or .korvello-old is "
                                                 "a folder").arg(name));
    else
        other = writable(root, QLatin1Char('/') + name);
}

Refusal Payload::refusal(const QString &package, qint64 entries) const
{
    // The stage and the new files share their blocks; the package's size
    // and a block per entry bound what the upgrade needs.
    const qint64 needKib = QFileInfo(package).size() / kKib + entries * 4 + kMarginKib;
    const Refusal full = room(root + QLatin1Char('/'), needKib);
    for (const Refusal &first : {full, folder, other})
        if (first.refused())
            return first;
    return versionFile(root);
}

Refusal restoration(const QString &archive, const QString &deviceRoot)
{
    const QString data = rootOf(deviceRoot) + QLatin1String(kDataDir);
    const QString parent = QFileInfo(data).path();
    const QFileInfo there(data);
    if (there.isSymLink() || (there.exists() && !there.isDir()))
        return refuse(kConflict, QStringLiteral("%1 is not a folder; it cannot be swapped")
                                     .arg(QLatin1String(kDataDir)));
    if (!QFileInfo(parent).isWritable())
        return refuse(kConflict, QStringLiteral("%1 cannot be written; %2 cannot be swapped")
                                     .arg(onDevice(rootOf(deviceRoot), parent),
                                          QLatin1String(kDataDir)));
    if (there.isDir() && deviceOf(data) != deviceOf(parent))
        return refuse(kConflict, QStringLiteral("%1 is a mount point; it cannot be swapped")
                                     .arg(QLatin1String(kDataDir)));
    return room(parent, QFileInfo(archive).size() / kKib + 1 + kMarginKib);
}

} // namespace DeviceFit
