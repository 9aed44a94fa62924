#ifndef KORVELLO_FILEDIGEST_H
#define KORVELLO_FILEDIGEST_H

#include <QByteArray>
#include <QString>

// Reading a whole file from the medium for its MD5 digest, as fast as the
// medium and the hash allow and with the same small memory for any size.
namespace FileDigest {

// Size of each of the two buffers that a digest reads into.
constexpr int kBlockBytes = 1 << 20;

enum class Outcome {
    Done,
    OpenFailed,  // missing, unreadable, or not a regular file
    ReadFailed,  // opened, but a read failed part of the way
};

struct Digest
{
    Outcome outcome = Outcome::OpenFailed;
    QByteArray md5;  // the 16 raw bytes when Done, otherwise empty
};

// The MD5 digest of a regular file's content. A second thread reads the
// file in large blocks while the calling thread hashes the block before, so
// the medium and the hash work at once; memory use is two blocks.
Digest md5(const QString &path);

// The digest as the jobs compare it, 32 lowercase hexadecimal characters;
// on failure a debug line that says why and a null string.
QString md5Text(const QString &path);

// Writes a regular file's dirty pages to the medium and drops its pages
// from the page cache, so that the next read comes from the medium itself
// and not from what the kernel still holds of an earlier write. False when
// the file cannot be opened or either step fails; the drop is tried even
// after a failed write-back.
bool dropCachedPages(const QString &path);

} // namespace FileDigest

#endif
