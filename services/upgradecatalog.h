#ifndef KORVELLO_UPGRADECATALOG_H
#define KORVELLO_UPGRADECATALOG_H

#include <QString>
#include <QStringList>

// Upgrade packages on the medium and the rules that read them. No widget
// here: the upgrade screen and the host-side medium tool use the same code.
//
//   storage root/run/upgrade/update-V*.tar       package (name matched ignoring case)
//   storage root/run/upgrade/update-V*.tar.md5   its side file
namespace UpgradeCatalog {

QString packageFolder(const QString &storageRoot);

// Packages in list order (see MediaListing).
QStringList listPackages(const QString &folder);

// The package the device takes from a listing: the last name in order.
// Empty for an empty listing.
QString choosePackage(const QStringList &listing);

struct PackageCheck
{
    QString fileName;
    QString path;          // folder/fileName
    QString sideFilePath;  // path + ".md5"
    QString calMd5;
    QString fileMd5;
    bool verified = false;
};

PackageCheck checkPackage(const QString &folder, const QString &fileName);

// The version cut from a package file name: after the first "update-",
// before the last ".tar", both case-sensitive; empty when none.
QString extractVersion(const QString &name);

// The package version when it equals the device version exactly, else empty.
QString sameVersion(const QString &packageFileName, const QString &deviceVersion);

} // namespace UpgradeCatalog

#endif
