#include "filesystem.h"

#include <sys/vfs.h>

namespace MediumFileSystem {

namespace {

struct Magic
{
    unsigned long value;
    const char *name;
};

// The values statfs reports in f_type (linux/magic.h); only the ones a
// medium or a developer's temporary folder is likely to carry.
const Magic kMagics[] = {
    {0x4d44UL, "vfat"},      {0x2011bab0UL, "exfat"}, {0xef53UL, "ext4"},
    {0x5346544eUL, "ntfs"},  {0x7366746eUL, "ntfs3"}, {0x01021994UL, "tmpfs"},
    {0x9123683eUL, "btrfs"}, {0x58465342UL, "xfs"},   {0x794c7630UL, "overlay"},
    {0x65735546UL, "fuse"},  {0xf15f083dUL, "f2fs"},  {0x9660UL, "iso9660"},
};

} // namespace

QString typeOf(const QString &path)
{
    struct statfs info;
    if (statfs(path.toLocal8Bit().constData(), &info) != 0)
        return QStringLiteral("unknown");
    const unsigned long type = static_cast<unsigned long>(info.f_type) & 0xffffffffUL;
    for (const Magic &magic : kMagics) {
        if (magic.value == type)
            return QString::fromLatin1(magic.name);
    }
    return QStringLiteral("unknown");
}

bool isFat(const QString &type)
{
    return type == QLatin1String("vfat") || type == QLatin1String("msdos");
}

bool tooLargeForFat(qint64 size, const QString &type)
{
    return isFat(type) && size >= kFatFileLimit;
}

} // namespace MediumFileSystem
