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
    reading.digest = match.captured();
    reading.status = match.hasMatch() ? SideFile::Reading::Found
        : line.isEmpty() ? SideFile::Reading::EmptyLine : SideFile::Reading::NoDigest;
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzInput::asMediumFile(data, size);
    const SideFile::Reading scanned = SideFile::read(path), whole = wholeLine(path);
    FuzzInput::expect(scanned.status == whole.status && scanned.digest == whole.digest
                          && scanned.lineLength == whole.lineLength
                          && scanned.lineHead == whole.lineHead,
                      "the same status, digest, line length and line head",
                      QStringLiteral("%1 %2 %3 %4").arg(scanned.status).arg(scanned.digest)
                          .arg(scanned.lineLength).arg(scanned.lineHead),
                      QStringLiteral("%1 %2 %3 %4").arg(whole.status).arg(whole.digest)
                          .arg(whole.lineLength).arg(whole.lineHead));
    return 0;
}
