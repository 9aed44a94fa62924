#include "fuzzinput.h"

#include "onmedium.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace FuzzInput {

QString asMediumFile(const uint8_t *data, size_t size)
{
    static QTemporaryDir medium;
    static const QString path = [] {
        OnMedium::setHostMedium(medium.path());
        return medium.path() + QStringLiteral("/input");
    }();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

void expect(bool holds, const char *rule, const QString &got, const QString &wanted)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: %s\n  got:    \"%s\"\n  wanted: \"%s\"\n", rule,
                 got.toUtf8().toPercentEncoding(" ").constData(),
                 wanted.toUtf8().toPercentEncoding(" ").constData());
    std::abort();
}

} // namespace FuzzInput
