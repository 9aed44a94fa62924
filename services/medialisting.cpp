#include "medialisting.h"

#include <QDir>
#include <QDirIterator>
#include <QRegExp>

#include <algorithm>

namespace MediaListing {

namespace {

QRegExp wildcardPattern(const QString &wildcard)
{
    return QRegExp(wildcard, Qt::CaseInsensitive, QRegExp::Wildcard);
}

QStringList inListOrder(QStringList names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QString::compare(a.toLower(), b.toLower(), Qt::CaseSensitive) < 0;
    });
    return names;
}

} // namespace

QStringList listFiles(const QString &folder, const QString &wildcard)
{
    // One entry at a time, keeping only the names that match: a listing
    // through QDir::entryList holds a QFileInfo of every entry at once,
    // which on a folder of hundreds of thousands of files is far more
    // memory than the names. The wildcard is matched here rather than as a
    // name filter: those go through QRegularExpression, which matches
    // nothing in a name that holds a byte that is not UTF-8 (see FileNames).
    const QRegExp pattern = wildcardPattern(wildcard);
    QDirIterator entries(folder, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    QStringList names;
    while (entries.hasNext()) {
        entries.next();
        if (pattern.exactMatch(entries.fileName()))
            names << entries.fileName();
    }
    return inListOrder(names);
}

QStringList matching(const QStringList &names, const QString &wildcard)
{
    const QRegExp pattern = wildcardPattern(wildcard);
    QStringList kept;
    for (const QString &name : names) {
        if (pattern.exactMatch(name))
            kept << name;
    }
    return inListOrder(kept);
}

} // namespace MediaListing
