#include "medialisting.h"

#include <QDir>

#include <algorithm>

namespace MediaListing {

QStringList listFiles(const QString &folder, const QString &wildcard)
{
    QDir dir(folder);
    // Name filters ignore case unless QDir::CaseSensitive is given.
    QStringList names = dir.entryList(QStringList() << wildcard,
                                      QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot,
                                      QDir::NoSort);
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QString::compare(a.toLower(), b.toLower(), Qt::CaseSensitive) < 0;
    });
    return names;
}

} // namespace MediaListing
