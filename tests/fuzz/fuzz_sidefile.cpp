// The side-file scan reads the first line as a stream, in chunks, and stops
// at the first digest, so that a line of gigabytes costs no memory. Whatever
// the bytes, it must find what reading the whole first line at once and
// matching the first run of 32 digest characters in it finds, with the same
// line head and line length.

#include "boundedlog.h"
#include "fuzzinput.h"
#include "sidefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

namespace {

SideFile::Reading wholeLine(const QString &path)
{
    SideFile::Reading reading;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return reading;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    const QString line = in.readLine();
    static const QRegularExpression digest(QStringLiteral("[0-9a-f]{32}"));
    const QRegularExpressionMatch match = digest.match(line);
    reading.lineLength = match.hasMatch() ? match.capturedEnd() : line.size();
    reading.lineHead = line.left(int(qMin<qint64>(reading.lineLength, BoundedLog::kHeadSize)));
    if (match.hasMatch()) {
        reading.status = SideFile::Reading::Found;
        reading.digest = match.captured();
    } else {
        reading.status = line.isEmpty() ? SideFile::Reading::EmptyLine
                                        : SideFile::Reading::NoDigest;
    }
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzInput::asMediumFile(data, size);
    const SideFile::Reading scanned = SideFile::read(path);
    const SideFile::Reading whole = wholeLine(path);
    FuzzInput::expect(scanned.status == whole.status, "the same status",
                      QString::number(scanned.status), QString::number(whole.status));
    FuzzInput::expect(scanned.digest == whole.digest, "the same digest", scanned.digest,
                      whole.digest);
    FuzzInput::expect(scanned.lineLength == whole.lineLength, "the same line length",
                      QString::number(scanned.lineLength), QString::number(whole.lineLength));
    FuzzInput::expect(scanned.lineHead == whole.lineHead, "the same line head",
                      scanned.lineHead, whole.lineHead);
    return 0;
}
