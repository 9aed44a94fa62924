#ifndef KORVELLO_UPGRADECATALOG_H
#define KORVELLO_UPGRADECATALOG_H

#include "sidefile.h"

#include <QString>
#include <QStringList>

#include <functional>

// The rules that read the upgrade packages on a medium (laid out as
// MediumLayout describes). No widget here: the upgrade screen and the
// host-side medium tool use the same code, so the tool predicts exactly what
// the device decides:
//   listPackages -> choosePackage -> checkPackage(...).verified()
//   -> sameVersion(name, device version) non-empty: already installed.
namespace UpgradeCatalog {

// Package file names in list order (see MediaListing): regular files only,
// "update-V*.tar" without regard to case, by lower-cased name.
QStringList listPackages(const QString &folder);
// The same from the names of the folder's regular files, already read.
QStringList listPackages(const QStringList &regularFiles);

// The package the device takes from a listing: the last name in order, with
// no reading of version numbers (update-V1.9.tar wins over update-V1.10.tar).
// Empty for an empty listing.
QString choosePackage(const QStringList &listing);

// One package checked against its side file. Only the package taken is ever
// checked; a mismatch is final, no other package is tried.
struct PackageCheck
{
    QString fileName;
    QString path;          // folder/fileName
    QString sideFilePath;  // path + ".md5"
    SideFile::Check digests;
    bool verified() const { return digests.matches(); }
};

PackageCheck checkPackage(const QString &folder, const QString &fileName);

// The same with the package and its side file hashed by `hash`, so the
// pairing can be run over many listings in memory.
using Hasher = std::function<SideFile::Check(const QString &packagePath,
                                             const QString &sideFilePath)>;
PackageCheck checkPackage(const QString &folder, const QString &fileName, const Hasher &hash);

// The version cut from a package file name: after the first "update-",
// before the last ".tar", both case-sensitive; empty when none.
QString extractVersion(const QString &name);

// The package version when it equals the device version exactly (case and
// blanks count, no ordering of versions), else empty. packageFileName may
// be a full path: only its last component is read. Two empty versions give
// an empty result, which callers read as "different".
QString sameVersion(const QString &packageFileName, const QString &deviceVersion);

} // namespace UpgradeCatalog

#endif
