#include "upgradecatalog.h"

#include "medialisting.h"
#include "mediumlayout.h"

#include <QFileInfo>

namespace UpgradeCatalog {

QStringList listPackages(const QString &folder)
{
    return MediaListing::listFiles(folder, QLatin1String(MediumLayout::kPackagePattern));
}

QStringList listPackages(const QStringList &regularFiles)
{
    return MediaListing::matching(regularFiles, QLatin1String(MediumLayout::kPackagePattern));
}

QString choosePackage(const QStringList &listing)
{
    return listing.isEmpty() ? QString() : listing.last();
}

PackageCheck checkPackage(const QString &folder, const QString &fileName)
{
    return checkPackage(folder, fileName, [](const QString &packagePath,
                                             const QString &sideFilePath) {
        return SideFile::check(packagePath, sideFilePath);
    });
}

PackageCheck checkPackage(const QString &folder, const QString &fileName, const Hasher &hash)
{
    PackageCheck check;
    check.fileName = fileName;
    check.path = folder + QLatin1Char('/') + fileName;
    check.sideFilePath = MediumLayout::packageSideFile(check.path);
    check.digests = hash(check.path, check.sideFilePath);
    return check;
}

QString extractVersion(const QString &name)
{
    const QString lead = QLatin1String(MediumLayout::kPackageVersionLead);
    const int leadAt = name.indexOf(lead);
    if (leadAt < 0)
        return QString();
    const int tailAt = name.lastIndexOf(QLatin1String(MediumLayout::kPackageVersionTail));
    const int start = leadAt + lead.size();
    if (tailAt < 0 || start >= tailAt)
        return QString();
    return name.mid(start, tailAt - start);
}

QString sameVersion(const QString &packageFileName, const QString &deviceVersion)
{
    const QString packageVersion = extractVersion(QFileInfo(packageFileName).fileName());
    return packageVersion == deviceVersion ? packageVersion : QString();
}

} // namespace UpgradeCatalog
