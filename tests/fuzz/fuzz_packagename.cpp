// The version a package's name carries: what stands between the first
// "update-" and the last ".tar" after it, which is what the pattern below
// matches; and the package counts as installed only when that version is
// the device's, exactly. The input is a name, a NUL byte and a version.

#include "fuzzinput.h"
#include "upgradecatalog.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const int nul = bytes.indexOf('\0');
    const QString name = QString::fromUtf8(bytes.left(nul < 0 ? bytes.size() : nul));
    const QString device = QString::fromUtf8(nul < 0 ? QByteArray() : bytes.mid(nul + 1));
    // A listing never holds a name with a "/".
    if (name.contains(QLatin1Char('/')))
        return 0;
    static const QRegularExpression version(QStringLiteral("update-(.*)\\.tar"),
                                            QRegularExpression::DotMatchesEverythingOption);
    const QString wanted = version.match(name).captured(1);
    const QString cut = UpgradeCatalog::extractVersion(name);
    FuzzInput::expect(cut == wanted, "the version between update- and the last .tar", cut,
                      wanted);
    const QString same = UpgradeCatalog::sameVersion(name, device);
    FuzzInput::expect(same == (!wanted.isEmpty() && wanted == device ? wanted : QString()),
                      "installed only on the same, non-empty version", same, device);
    return 0;
}
