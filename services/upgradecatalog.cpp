#include "upgradecatalog.h"

#include "medialisting.h"
#include "utils.h"

#include <QFileInfo>

namespace UpgradeCatalog {

namespace {
const char kPackagePattern[] = "update-V*.tar";
const char kVersionLead[] = "update-";
const char kVersionTail[] = ".tar";
} // namespace

QString packageFolder(const QString &storageRoot)
{
    return storageRoot + QStringLiteral("/run/upgrade");
}

QStringList listPackages(const QString &folder)
{
    return MediaListing::listFiles(folder, QLatin1String(kPackagePattern));
}

QString choosePackage(const QStringList &listing)
{
    return listing.isEmpty() ? QString() : listing.last();
}

PackageCheck checkPackage(const QString &folder, const QString &fileName)
{
    PackageCheck check;
    check.fileName = fileName;
    check.path = folder + QLatin1Char('/') + fileName;
    check.sideFilePath = check.path + QStringLiteral(".md5");
    check.calMd5 = Utils::calculateFileMD5(check.path);
    check.fileMd5 = Utils::extractMD5FromFile(check.sideFilePath);
    // A package that cannot be read has no digest; should its side file yield
    // none either, the two empty digests must not count as a match, or an
    // unreadable package would be handed to the upgrade script.
    check.verified = MediaListing::digestsMatch(check.calMd5, check.fileMd5);
    return check;
}

QString extractVersion(const QString &name)
{
    const QString lead = QLatin1String(kVersionLead);
    const int leadAt = name.indexOf(lead);
    if (leadAt < 0)
        return QString();
    const int tailAt = name.lastIndexOf(QLatin1String(kVersionTail));
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
