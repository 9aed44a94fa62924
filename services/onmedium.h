#ifndef KORVELLO_ONMEDIUM_H
#define KORVELLO_ONMEDIUM_H

#include <QString>

// Whether something the tool reads or writes through a path on a medium
// really lies on that medium. A name on a stick can be a link to anywhere
// on the device (a kernel file that never ends, a file whose first line
// would go into the log), and a folder on it can have another file system
// mounted over it. So a path counts as on the medium only when, with every
// link resolved, it lies inside the medium's root and on the file system
// mounted there; under the simulator, whose media are folders on the host,
// the path alone decides as well.
namespace OnMedium {

// The medium a host tool works on; the device's own media are known
// through the platform layer.
void setHostMedium(const QString &root);

// The root of the medium a path is written under, or empty for a path on
// no medium (the device's own files).
QString rootOf(const QString &path);

// Whether the existing file or folder at path lies on the medium at root.
bool holds(const QString &root, const QString &path);

// Whether the open descriptor, opened through path, is a file on the
// medium at root: the file the path resolves to, and on the medium.
bool holdsOpen(const QString &root, const QString &path, int fd);

} // namespace OnMedium

#endif
