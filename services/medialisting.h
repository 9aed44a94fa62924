#ifndef KORVELLO_MEDIALISTING_H
#define KORVELLO_MEDIALISTING_H

#include <QString>
#include <QStringList>

// How every job lists a folder on the medium: regular files only (no
// symbolic links, no directories), names matching a wildcard without regard
// to case, ordered by their lower-cased names compared character by
// character. Not locale-aware and not numeric: "v1.10" sorts before "v1.9".
namespace MediaListing {

QStringList listFiles(const QString &folder, const QString &wildcard);

// The same rule over names already read (the regular files of a folder, in
// the folder's own order): the matching ones, in list order.
QStringList matching(const QStringList &names, const QString &wildcard);

} // namespace MediaListing

#endif
