#ifndef KORVELLO_BOUNDEDLOG_H
#define KORVELLO_BOUNDEDLOG_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Debug lines stay readable and the tool's memory stays bounded whatever a
// medium holds: a long value is logged cut, with a marker that says so and
// gives its full length.
namespace BoundedLog {

// How much of a long value is kept: at the head, and (for a script's
// output, where its reasons for failing usually are) at the tail.
constexpr int kHeadSize = 4096;
constexpr int kTailSize = 4096;

// "[cut: 157286400 bytes in all]"
QByteArray cutMarker(qint64 total, const char *unit);

// Keeps the head and the tail of a stream of bytes and counts all of it.
class Capture
{
public:
    void append(const char *data, qint64 size);
    qint64 total() const { return mTotal; }
    bool isCut() const { return mTotal > mHead.size() + mTail.size(); }
    // The first bytes, and the bytes kept after them in order: together
    // everything when nothing was cut, else the last bytes of the stream.
    const QByteArray &head() const { return mHead; }
    QByteArray tail() const;

private:
    QByteArray mHead;
    QByteArray mTail; // a ring of kTailSize bytes once full
    int mTailStart = 0;
    qint64 mTotal = 0;
};

} // namespace BoundedLog

#endif
