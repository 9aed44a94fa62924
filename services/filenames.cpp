#include "filenames.h"

#include <QString>
#include <QTextCodec>

#include <cstring>

namespace FileNames {

namespace {

constexpr ushort kStrayBase = 0xDC00; // + the byte, which is 0x80 or more

// The length of the sequence a lead byte opens, and the range its second
// byte must lie in: that keeps out overlong forms, surrogates and code
// points above U+10FFFF. 0 for a byte that opens none.
int sequenceLength(uchar lead, uchar *low, uchar *high)
{
    *low = 0x80;
    *high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF) {
        *low = lead == 0xE0 ? 0xA0 : 0x80;
        *high = lead == 0xED ? 0x9F : 0xBF;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        *low = lead == 0xF0 ? 0x90 : 0x80;
        *high = lead == 0xF4 ? 0x8F : 0xBF;
        return 4;
    }
    return 0;
}

// How many bytes from `at` form a valid sequence: its length, 0 when the
// lead byte is stray, -1 when the bytes end before the sequence does.
int validSequence(const uchar *bytes, int size, int at)
{
    uchar low;
    uchar high;
    const int length = sequenceLength(bytes[at], &low, &high);
    for (int i = 1; i < length; ++i) {
        if (at + i >= size)
            return -1;
        const uchar next = bytes[at + i];
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

void appendCodePoint(QString &out, uint codePoint)
{
    if (QChar::requiresSurrogates(codePoint)) {
        out += QChar(QChar::highSurrogate(codePoint));
        out += QChar(QChar::lowSurrogate(codePoint));
    } else {
        out += QChar(ushort(codePoint));
    }
}

uint decode(const uchar *bytes, int length)
{
    static const uchar kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
    uint codePoint = bytes[0] & kLeadMask[length];
    for (int i = 1; i < length; ++i)
        codePoint = (codePoint << 6) | (bytes[i] & 0x3F);
    return codePoint;
}

class ByteExactUtf8 : public QTextCodec
{
public:
    QByteArray name() const override { return "UTF-8 (byte-exact names)"; }
    int mibEnum() const override { return -106; } // none of its own: 106 is UTF-8

protected:
    // A sequence cut at the end of one piece of a stream is kept in the
    // state (at most three bytes) and finished with the next piece.
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        if (state && state->remainingChars > 0)
            bytes = QByteArray(reinterpret_cast<const char *>(state->state_data),
                               state->remainingChars);
        bytes.append(in, length);
        if (state)
            state->remainingChars = 0;
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        QString out;
        out.reserve(bytes.size());
        for (int at = 0; at < bytes.size();) {
            const int valid = validSequence(data, bytes.size(), at);
            if (valid < 0 && state) {
                state->remainingChars = bytes.size() - at;
                memcpy(state->state_data, data + at, size_t(state->remainingChars));
                break;
            }
            if (data[at] < 0x80) {
                out += QLatin1Char(char(data[at++]));
            } else if (valid > 0) {
                appendCodePoint(out, decode(data + at, valid));
                at += valid;
            } else {
                out += QChar(ushort(kStrayBase + data[at++]));
            }
        }
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        QByteArray out;
        out.reserve(length);
        for (int i = 0; i < length; ++i) {
            const ushort unit = in[i].unicode();
            if (QChar::isHighSurrogate(unit) && i + 1 < length
                && in[i + 1].isLowSurrogate()) {
                out += QString(in + i, 2).toUtf8();
                ++i;
            } else if (unit >= kStrayBase + 0x80 && unit <= kStrayBase + 0xFF) {
                out += char(unit - kStrayBase);
            } else if (QChar::isSurrogate(unit)) {
                out += '?';
            } else {
                out += QString(in + i, 1).toUtf8();
            }
        }
        return out;
    }
};

} // namespace

void install()
{
    // Qt keeps every codec it is given for the life of the process.
    static QTextCodec *const codec = new ByteExactUtf8;
    QTextCodec::setCodecForLocale(codec);
}

bool hasStrayBytes(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= kStrayBase + 0x80 && c.unicode() <= kStrayBase + 0xFF)
            return true;
    }
    return false;
}

} // namespace FileNames
