#ifndef KORVELLO_MEDIUM_FILESYSTEM_H
#define KORVELLO_MEDIUM_FILESYSTEM_H

#include <QString>
#include <QtGlobal>

// What the host can tell about the file system a medium is formatted with.
namespace MediumFileSystem {

// "vfat", "exfat", "ext4", "ntfs", "tmpfs", ... or "unknown".
QString typeOf(const QString &path);
bool isFat(const QString &type);

// FAT keeps a file's size in 32 bits: nothing of 4 GiB or more fits.
constexpr qint64 kFatFileLimit = Q_INT64_C(4) * 1024 * 1024 * 1024;
bool tooLargeForFat(qint64 size, const QString &type);

} // namespace MediumFileSystem

#endif
