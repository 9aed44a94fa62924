#ifndef KORVELLO_SIDEFILE_H
#define KORVELLO_SIDEFILE_H

#include <QString>

// The ".md5" side files that vouch for archives and packages, and the one
// check of a data file against its side file that all three jobs make.
namespace SideFile {

// What the first line of a side file holds. The line is scanned as a
// stream: memory stays small however long the line is, and reading stops
// at the first digest, so the result is that of reading the whole line
// through a text stream and matching "([0-9a-f]{32})" against it.
struct Reading
{
    enum Status { Found, OpenFailed, EmptyLine, NoDigest };
    Status status = OpenFailed;
    QString digest;        // the 32 characters, when Found
    QString lineHead;      // the line's first BoundedLog::kHeadSize characters
    qint64 lineLength = 0; // the whole line's length in characters
};
Reading read(const QString &path);

// The digest the side file vouches for; on failure a debug line that says
// why and a null string.
QString digest(const QString &path);

// Where the data file's bytes come from when it is hashed.
enum class Source {
    Cache,  // whatever the system has: a medium that was just plugged in
    Medium, // the medium itself, for data this device has just written
};

// A data file hashed and its side file read, each with its own debug
// lines. Both are always looked at, even when one of them is missing.
struct Check
{
    QString calMd5;  // empty when the data file cannot be read
    QString fileMd5; // empty when the side file yields no digest
    // Two empty digests never match: a file that cannot be read must never
    // pass for intact.
    bool matches() const { return !calMd5.isEmpty() && calMd5 == fileMd5; }
};
Check check(const QString &dataPath, const QString &sideFilePath, Source source = Source::Cache);

} // namespace SideFile

#endif
