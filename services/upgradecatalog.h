#ifndef KORVELLO_UPGRADECATALOG_H
#define KORVELLO_UPGRADECATALOG_H

#include <QString>
#include <QStringList>

// Upgrade packages on the medium and the rules that read them. No widget
// here: the upgrade screen and the host-side medium tool use the same code,
// so the tool predicts exactly what the device decides.
//
//   storage root/run/upgrade/update-V*.tar       package (name matched ignoring case)
//   storage root/run/upgrade/update-V*.tar.md5   its side file
//
// The device's decision, step by step:
//   listPackages(packageFolder(root)) -> choosePackage -> checkPackage(...).verified
//   -> sameVersion(fileName, device version) non-empty: already installed.
namespace UpgradeCatalog {

// storageRoot + "/run/upgrade".
QString packageFolder(const QString &storageRoot);

// Package file names in list order (see MediaListing): regular files only,
// "update-V*.tar" without regard to case, by lower-cased name.
QStringList listPackages(const QString &folder);

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
    QString calMd5;        // digest of the package, empty when unreadable
    QString fileMd5;       // digest from the side file, empty when none
    bool verified = false;
};

PackageCheck checkPackage(const QString &folder, const QString &fileName);

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
