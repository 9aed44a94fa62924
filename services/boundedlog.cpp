#include "boundedlog.h"

#include <algorithm>

namespace BoundedLog {

QByteArray cutMarker(qint64 total, const char *unit)
{
    return "[cut: " + QByteArray::number(total) + ' ' + unit + " in all]";
}

void Capture::append(const char *data, qint64 size)
{
    mTotal += size;
    const qint64 toHead = std::min<qint64>(size, kHeadSize - mHead.size());
    mHead.append(data, int(toHead));
    data += toHead;
    size -= toHead;
    // Only the last kTailSize bytes of what is left can end in the tail.
    if (size > kTailSize) {
        data += size - kTailSize;
        size = kTailSize;
    }
    for (qint64 i = 0; i < size; ++i) {
        if (mTail.size() < kTailSize) {
            mTail.append(data[i]);
            continue;
        }
        mTail[mTailStart] = data[i];
        mTailStart = (mTailStart + 1) % kTailSize;
    }
}

QByteArray Capture::tail() const
{
    return mTail.mid(mTailStart) + mTail.left(mTailStart);
}

} // namespace BoundedLog
