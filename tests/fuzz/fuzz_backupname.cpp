// The backup index a file name carries: its base name (up to the first
// ".") split at every "-"; without a "-" there is none; otherwise the last
// piece, read as a signed decimal 32-bit number, 0 when it is none. The
// index's own reading is Qt's; what is checked here is which piece is read,
// and that plain numbers, and nothing with a letter or a mark, give one.

#include "backupcatalog.h"
#include "fuzzinput.h"

#include <QRegularExpression>

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
    // [0-9]{1,9} always fits; a letter, a dot or a character outside ASCII is no number.
    static const QRegularExpression plain("\\A[0-9]{1,9}\\z");
    static const QRegularExpression none("\\A\\z|[^\\x{0}-\\x{7f}]|[A-Za-z.]");
    if (plain.match(last).hasMatch())
        FuzzInput::expect(index == last.toInt(), "a plain number is the index",
                          QString::number(index), last);
    else if (none.match(last).hasMatch())
        FuzzInput::expect(index == 0, "no number gives 0", QString::number(index), last);
    return 0;
}
