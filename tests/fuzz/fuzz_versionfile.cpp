// The device's version file as the tool reads it: the first line up to its
// line feed, at most 4096 bytes of it, without its last byte, up to the
// first NUL byte, as UTF-8. The reader does this with a bounded read from an
// open that never blocks; here it is done on the whole input at once.

#include "fuzzinput.h"
#include "utils.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reader reports a cut or empty line on standard output, once per input.
    static FILE *const quiet = std::freopen("/dev/null", "w", stdout);
    Q_UNUSED(quiet)
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const int feed = bytes.indexOf('\n');
    QByteArray line = bytes.left(feed < 0 ? bytes.size() : feed + 1).left(4096);
    line.chop(1);
    const int nul = line.indexOf('\0');
    const QString wanted = QString::fromUtf8(nul < 0 ? line : line.left(nul));
    const QString read = Utils::readVersionFromPath(FuzzInput::asMediumFile(data, size));
    FuzzInput::expect(read == wanted, "the first line, cut", read, wanted);
    return 0;
}
