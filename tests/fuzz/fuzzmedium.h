#ifndef KORVELLO_FUZZMEDIUM_H
#define KORVELLO_FUZZMEDIUM_H

// A folder drawn from a fuzz input, in memory: names from pieces that hit
// the rules, entries of every form, data and side files that vouch for one
// of them or for none. Beside it, each job's rule read plainly.

#include "fuzzinput.h"
#include "jobdecisions.h"

#include <QRegExp>
#include <QVector>

#include <algorithm>
#include <climits>

namespace FuzzMedium {

enum class Form { File, Folder, Link, Fifo }; // a link leads to the first entry

struct Entry
{
    QString name;
    Form form;
    int content; // 0-3: data; 4-11: vouches for data content % 4; 12-15: for none
};

struct Folder
{
    QVector<Entry> entries; // in the folder's own order, each name once
    int spare = 0;          // an input byte for a target's own choices

    const Entry *find(const QString &name) const
    {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const Entry &entry) { return entry.name == name; });
        return it == entries.end() ? nullptr : &*it;
    }
    int content(const QString &path) const // through a link; -1 for nothing readable
    {
        const Entry *entry = find(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
        if (entry && entry->form == Form::Link)
            entry = &entries.first();
        return entry && entry->form == Form::File ? entry->content : -1;
    }
    // What SideFile::check would find for the two; a digest is its content.
    SideFile::Check hash(const QString &dataPath, const QString &sidePath) const
    {
        const int data = content(dataPath), side = content(sidePath);
        return {data < 0 ? QString() : QString::number(data),
                side < 4 || side >= 12 ? QString() : QString::number(side % 4)};
    }
    QStringList regularFiles() const
    {
        QStringList names;
        for (const Entry &entry : entries)
            if (entry.form == Form::File)
                names << entry.name;
        return names;
    }
};

inline Folder draw(const uint8_t *data, size_t size)
{
    // A byte that is not UTF-8 stands as FileNames decodes it: U+DC00 + byte.
    static const QStringList pieces = {
        "data-", "DATA-", "A7", "a7", "-", "0", "1", "7", "20240101120000", ".tar", ".TAR",
        ".md5", ".MD5", "update-V", "UPDATE-v", "update-", "V1.9", "2147483647",
        "2147483648", QChar(0xdcff), QString(QChar(0xdce9)) + '-', QChar(0xdc80), ".", "x"};
    Folder folder;
    folder.spare = size > 0 ? data[0] : 0;
    // A few short names hit every rule; more would only slow each run.
    for (size_t at = 1; at < size && folder.entries.size() < 8; ++at) {
        Entry entry{QString(), Form(data[at] & 3), (data[at] >> 2) % 16};
        for (++at; at < size && data[at] < 0xe0 && entry.name.size() < 64; ++at)
            entry.name += pieces[data[at] % pieces.size()];
        if (!entry.name.isEmpty() && entry.name != "." && entry.name != ".."
            && !folder.find(entry.name))
            folder.entries << entry;
    }
    return folder;
}

// The rules, plainly.
inline bool listed(const Entry &entry, const char *lead) // lead + "*.tar", any case
{
    const QString name = entry.name.toLower();
    return entry.form == Form::File && name.size() >= int(qstrlen(lead)) + 4
           && name.startsWith(QLatin1String(lead)) && name.endsWith(QLatin1String(".tar"));
}

inline QString baseOf(const QString &name)
{
    return name.left(name.indexOf(QLatin1Char('.')));
}

// A last piece of digits alone is a number, 0 when it does not fit.
inline bool readIndex(const QString &name, int *index)
{
    static const QRegExp digits(QStringLiteral("[0-9]+"));
    const QString base = baseOf(name);
    const QString last = base.mid(base.lastIndexOf(QLatin1Char('-')) + 1);
    *index = digits.exactMatch(last) ? last.toInt() : 0;
    return base.contains(QLatin1Char('-'));
}

inline bool vouched(const Folder &folder, const QString &data, const QString &side)
{
    const SideFile::Check digests = folder.hash(data, side);
    return !digests.calMd5.isEmpty() && digests.calMd5 == digests.fileMd5;
}

// An archive is hashed, and paired with its side file, by its base name.
inline bool intact(const Folder &folder, const QString &name)
{
    return vouched(folder, baseOf(name) + ".tar", baseOf(name) + ".md5");
}

// One above the highest index listed (1 at least for an archive), 1 for
// none, none after the largest 32-bit index.
inline int wantedNextIndex(const Folder &folder)
{
    qint64 highest = 0;
    for (const Entry &entry : folder.entries) {
        int index = 0;
        if (listed(entry, "data-"))
            highest = qMax<qint64>(highest, readIndex(entry.name, &index) ? qMax(index, 1) : 1);
    }
    return highest == INT_MAX ? BackupCatalog::kNoIndex : int(highest + 1);
}

// The intact archive with the highest positive index, ties to the first in
// list order (the lower-cased name, then the folder's own order).
inline QPair<QString, int> wantedChoice(const Folder &folder)
{
    QPair<QString, int> choice(QString(), 0);
    for (const Entry &entry : folder.entries) {
        int index = 0;
        if (listed(entry, "data-") && readIndex(entry.name, &index) && index > 0
            && intact(folder, entry.name)
            && (index > choice.second || (index == choice.second
                                          && entry.name.toLower() < choice.first.toLower())))
            choice = qMakePair(entry.name, index);
    }
    return choice;
}

// Nothing is on disk to tell a side file without a digest from none.
inline JobDecisions::Candidacy wantedCandidacy(const Folder &folder, const QString &fileName,
                                               const QPair<QString, int> &choice)
{
    using Candidacy = JobDecisions::Candidacy;
    const QString base = baseOf(fileName);
    const SideFile::Check digests = folder.hash(base + ".tar", base + ".md5");
    int index = 0;
    readIndex(fileName, &index);
    if (fileName == choice.first)
        return Candidacy::Taken;
    if (digests.calMd5.isEmpty())
        return Candidacy::Unreadable;
    if (digests.fileMd5.isEmpty() || digests.fileMd5 != digests.calMd5)
        return digests.fileMd5.isEmpty() ? Candidacy::NoSideFile : Candidacy::DigestsDiffer;
    if (index <= 0)
        return Candidacy::IndexZero;
    if (index < choice.second)
        return Candidacy::Older;
    return base == baseOf(choice.first) ? Candidacy::TakenAsTwin : Candidacy::SameIndexLater;
}

// The last package in list order: the greatest lower-cased name, then the
// last in the folder's own order.
inline QString wantedPackage(const Folder &folder)
{
    QString taken;
    for (const Entry &entry : folder.entries)
        taken = listed(entry, "update-v") && !(entry.name.toLower() < taken.toLower())
            ? entry.name : taken;
    return taken;
}

inline QString versionOf(const QString &name) // after the first "update-", before the last ".tar"
{
    const int lead = name.indexOf(QLatin1String("update-"));
    const int tail = name.lastIndexOf(QLatin1String(".tar"));
    return lead >= 0 && tail > lead + 7 ? name.mid(lead + 7, tail - lead - 7) : QString();
}

} // namespace FuzzMedium

#endif
