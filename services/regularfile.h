#ifndef KORVELLO_REGULARFILE_H
#define KORVELLO_REGULARFILE_H

#include <QFile>
#include <QString>

// Opening a file from the medium for reading. A name on a medium can stand
// for a FIFO, whose open() waits for a writer that never comes, or for a
// device such as /dev/zero, which never ends. Files are therefore opened
// without blocking and kept only when the opened descriptor itself is a
// regular file (after following symbolic links), so nothing can be swapped
// in between a check and the open.
namespace RegularFile {

// An open descriptor (read-only, close-on-exec, blocking again) of a regular
// file, or -1 when the path cannot be opened or is anything else.
int openForReading(const QString &path);

// Opens `file` on such a descriptor; the file closes it. `mode` may add
// QIODevice::Text to ReadOnly.
bool open(QFile &file, const QString &path, QIODevice::OpenMode mode = QIODevice::ReadOnly);

} // namespace RegularFile

#endif
