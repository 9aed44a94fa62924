#ifndef KORVELLO_REGULARFILE_H
#define KORVELLO_REGULARFILE_H

#include <QFile>
#include <QString>

// Opening a file for reading. A name on a medium can stand for a FIFO,
// whose open() waits for a writer that never comes, for a device such as
// /dev/zero, which never ends, or for a link to any file of the device.
// Files are therefore opened without blocking and kept only when the opened
// descriptor itself is a regular file (after following symbolic links), so
// nothing can be swapped in between a check and the open; a path on a
// medium must moreover lead to a file on that medium (see OnMedium).
namespace RegularFile {

// An open descriptor (read-only, close-on-exec, non-blocking) of a regular
// file, or -1 when the path cannot be opened or is anything else. Readers
// take a read that would block as the end of what the file holds.
int openForReading(const QString &path);

// Opens `file` on such a descriptor; the file closes it. `mode` may add
// QIODevice::Text to ReadOnly.
bool open(QFile &file, const QString &path, QIODevice::OpenMode mode = QIODevice::ReadOnly);

} // namespace RegularFile

#endif
