#include "filedigest.h"

#include "regularfile.h"

#include <QCryptographicHash>
#include <QDebug>

#include <condition_variable>
#include <memory>
#include <mutex>

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileDigest {

namespace {

// Fills the buffer unless the file ends first. Returns the bytes read, or -1
// when a read fails; a short count therefore always means the end. `left`
// counts down what the file may still yield: one byte more than the size it
// stated when it was opened. A file that yields that byte is a kernel file
// that produces data as it is read and never ends, and counts as unreadable.
ssize_t readBlock(int fd, char *buffer, size_t size, qint64 &left)
{
    size_t done = 0;
    while (done < size) {
        const size_t wanted = size_t(qMin<qint64>(qint64(size - done), left));
        const ssize_t got = ::read(fd, buffer + done, wanted);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += static_cast<size_t>(got);
        left -= got;
        if (left == 0)
            return -1;
    }
    return static_cast<ssize_t>(done);
}

bool isLastBlock(ssize_t size)
{
    return size < kBlockBytes;
}

// Two buffers passed back and forth: a reader thread fills one while the
// hashing thread digests the other. MD5 and the copy out of the page cache
// each take a core's time, and the medium's latency comes on top when the
// data is not cached; overlapping them makes the digest cost about what the
// hash alone costs. The hashing thread is the caller's, so the caller's
// QCryptographicHash is never shared.
class BlockRing
{
public:
    BlockRing(int fd, qint64 size)
        : mFd(fd)
        , mLeft(size + 1)
    {
    }

    // False when a read failed.
    bool hashAll(QCryptographicHash &hash)
    {
        pthread_t reader;
        if (pthread_create(&reader, nullptr, &BlockRing::readerMain, this) != 0)
            return hashInTurn(hash);
        bool readOk = true;
        for (int i = 0;; i ^= 1) {
            Block &block = mBlocks[i];
            std::unique_lock<std::mutex> lock(mMutex);
            mChanged.wait(lock, [&block] { return block.full; });
            const ssize_t size = block.size;
            lock.unlock();
            // The reader never touches a full block, so it is hashed unlocked.
            if (size > 0)
                hash.addData(block.bytes.get(), static_cast<int>(size));
            lock.lock();
            block.full = false;
            lock.unlock();
            mChanged.notify_one();
            if (isLastBlock(size)) {
                readOk = size >= 0;
                break;
            }
        }
        // The reader has handed over its last block and returns without
        // waiting for anything more.
        pthread_join(reader, nullptr);
        return readOk;
    }

private:
    struct Block
    {
        // Zero-filled, so every page is resident from the start: a digest
        // takes the same memory for any file, and a small file shows what
        // a large one will take.
        std::unique_ptr<char[]> bytes{new char[kBlockBytes]()};
        ssize_t size = 0;
        bool full = false;
    };

    static void *readerMain(void *ring)
    {
        static_cast<BlockRing *>(ring)->readAll();
        return nullptr;
    }

    void readAll()
    {
        for (int i = 0;; i ^= 1) {
            Block &block = mBlocks[i];
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mChanged.wait(lock, [&block] { return !block.full; });
            }
            const ssize_t size = readBlock(mFd, block.bytes.get(), kBlockBytes, mLeft);
            {
                std::lock_guard<std::mutex> lock(mMutex);
                block.size = size;
                block.full = true;
            }
            mChanged.notify_one();
            if (isLastBlock(size))
                return;
        }
    }

    // Without a second thread (the system refused one) the same blocks are
    // read and hashed one after the other: slower, never wrong.
    bool hashInTurn(QCryptographicHash &hash)
    {
        for (;;) {
            const ssize_t size = readBlock(mFd, mBlocks[0].bytes.get(), kBlockBytes, mLeft);
            if (size > 0)
                hash.addData(mBlocks[0].bytes.get(), static_cast<int>(size));
            if (isLastBlock(size))
                return size >= 0;
        }
    }

    const int mFd;
    qint64 mLeft; // the reader's alone
    Block mBlocks[2];
    std::mutex mMutex;
    std::condition_variable mChanged;
};

} // namespace

Digest md5(const QString &path)
{
    Digest digest;
    const int fd = RegularFile::openForReading(path);
    if (fd < 0)
        return digest;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return digest;
    }
    // Doubles the kernel's read-ahead for this file: the next blocks are
    // already on their way from the medium while the current one is hashed.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    QCryptographicHash hash(QCryptographicHash::Md5);
    const bool readOk = BlockRing(fd, info.st_size).hashAll(hash);
    ::close(fd);
    if (!readOk) {
        digest.outcome = Outcome::ReadFailed;
        return digest;
    }
    digest.outcome = Outcome::Done;
    digest.md5 = hash.result();
    return digest;
}

QString md5Text(const QString &path)
{
    const Digest digest = md5(path);
    switch (digest.outcome) {
    case Outcome::Done:
        return QString::fromLatin1(digest.md5.toHex());
    case Outcome::OpenFailed:
        qDebug() << "Failed to open file:" << path;
        return QString();
    case Outcome::ReadFailed:
        break;
    }
    qDebug() << "Failed to calculate MD5:" << path;
    return QString();
}

bool dropCachedPages(const QString &path)
{
    const int fd = RegularFile::openForReading(path);
    if (fd < 0)
        return false;
    // The kernel drops only clean pages, so whatever is still dirty is
    // written first; Linux syncs through a read-only descriptor too.
    const bool written = ::fdatasync(fd) == 0;
    const bool dropped = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return written && dropped;
}

} // namespace FileDigest
