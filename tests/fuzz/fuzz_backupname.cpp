// The backup index a file name carries: its base name (up to the first
// ".") split at every "-"; without a "-" there is none; otherwise the last
// piece, read as a signed decimal 32-bit number, 0 when it is none. The
// index's own reading is Qt's; what is checked here is which piece is read,
// and that plain numbers, and nothing with a letter or a mark, give one.

#include "backupcatalog.h"
#include "fuzzinput.h"

namespace {

// The value of [0-9]{1,9}, which always fits. The last piece never holds
// a "-": that is where the name was split.
bool plainNumber(const QString &piece, int *value)
{
    if (piece.isEmpty() || piece.size() > 9)
        return false;
    int result = 0;
    for (const QChar c : piece) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        result = result * 10 + (c.unicode() - '0');
    }
    *value = result;
    return true;
}

// A letter, a dot or any character outside ASCII makes a piece no number.
bool plainlyNoNumber(const QString &piece)
{
    for (const QChar c : piece) {
        if (c.unicode() > 0x7f || c.isLetter() || c == QLatin1Char('.'))
            return true;
    }
    return piece.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    // A listing never holds a name with a "/" or a NUL byte.
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return 0;
    const int dot = name.indexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    FuzzInput::expect(BackupCatalog::baseName(name) == base, "the base name up to the first dot",
                      BackupCatalog::baseName(name), base);
    int index = -1;
    const bool carries = BackupCatalog::readIndex(name, &index);
    FuzzInput::expect(carries == base.contains(QLatin1Char('-')), "an index only with a -", name);
    if (!carries)
        return 0;
    const QString last = base.mid(base.lastIndexOf(QLatin1Char('-')) + 1);
    int value = 0;
    if (plainNumber(last, &value))
        FuzzInput::expect(index == value, "a plain number is the index", QString::number(index),
                          last);
    else if (plainlyNoNumber(last))
        FuzzInput::expect(index == 0, "no number gives 0", QString::number(index), last);
    return 0;
}
