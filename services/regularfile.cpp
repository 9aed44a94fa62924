#include "regularfile.h"

#include "onmedium.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

int openForReading(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK makes the open of a FIFO return at once instead of waiting
    // for a writer. It stays on: a regular file of a disk file system
    // ignores it, while a kernel file that waits for data it may never get
    // (a drained log, a trace pipe) answers at once with nothing to read.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    const QString medium = OnMedium::rootOf(path);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || (!medium.isEmpty() && !OnMedium::holdsOpen(medium, path, fd))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool open(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace RegularFile
