#include "sidefile.h"

#include "boundedlog.h"
#include "filedigest.h"
#include "regularfile.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

namespace SideFile {

namespace {

constexpr int kDigestLength = 32;
constexpr int kChunkChars = 4096;

bool isDigestCharacter(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f');
}

// Feeds the line's characters one by one; true once a digest is complete.
class LineScanner
{
public:
    explicit LineScanner(Reading &reading)
        : mReading(reading)
    {
    }

    bool take(QChar c)
    {
        ++mReading.lineLength;
        if (mReading.lineHead.size() < BoundedLog::kHeadSize)
            mReading.lineHead += c;
        if (!isDigestCharacter(c)) {
            mRun.clear();
            return false;
        }
        mRun += c;
        return mRun.size() == kDigestLength;
    }

    QString run() const { return mRun; }

private:
    Reading &mReading;
    QString mRun; // the current run of digest characters, shorter than a digest
};

// The line ended (or the file did) without a digest.
Reading lineEnded(Reading reading)
{
    reading.status = reading.lineLength > 0 ? Reading::NoDigest : Reading::EmptyLine;
    return reading;
}

} // namespace

Reading read(const QString &path)
{
    Reading reading;
    QFile file;
    // Text mode, as a side file written on any system is a text file: the
    // stream drops carriage returns and decodes a byte-order mark.
    if (!RegularFile::open(file, path, QIODevice::ReadOnly | QIODevice::Text))
        return reading;
    // A file never yields more than the size it states, unless it is a
    // kernel file that makes data up as it is read: the scan stops there.
    const qint64 size = file.size();
    QTextStream in(&file);
    // UTF-8 unless a byte-order mark says otherwise, whatever the locale:
    // a stray byte reads as U+FFFD, never as the escape file names use.
    in.setCodec("UTF-8");
    LineScanner scanner(reading);
    for (QString chunk = in.read(kChunkChars); !chunk.isEmpty() && file.pos() <= size;
         chunk = in.read(kChunkChars)) {
        for (const QChar c : chunk) {
            if (c == QLatin1Char('\n'))
                return lineEnded(reading);
            if (scanner.take(c)) {
                reading.status = Reading::Found;
                reading.digest = scanner.run();
                return reading;
            }
        }
    }
    return lineEnded(reading);
}

QString digest(const QString &path)
{
    const Reading reading = read(path);
    switch (reading.status) {
    case Reading::Found:
        return reading.digest;
    case Reading::OpenFailed:
        qDebug() << "Failed to open MD5 file:" << path;
        break;
    case Reading::EmptyLine:
        qDebug() << "MD5 file is empty:" << path;
        break;
    case Reading::NoDigest:
        if (reading.lineLength <= reading.lineHead.size())
            qDebug() << "No valid MD5 found in line:" << reading.lineHead;
        else
            qDebug() << "No valid MD5 found in line:" << reading.lineHead
                     << BoundedLog::cutMarker(reading.lineLength, "characters").constData();
        break;
    }
    return QString();
}

Check check(const QString &dataPath, const QString &sideFilePath, Source source)
{
    // Both files were just written by this device: what counts is what the
    // medium took, not what the system still holds in memory.
    if (source == Source::Medium) {
        FileDigest::dropCachedPages(dataPath);
        FileDigest::dropCachedPages(sideFilePath);
    }
    Check result;
    result.calMd5 = FileDigest::md5Text(dataPath);
    result.fileMd5 = digest(sideFilePath);
    return result;
}

} // namespace SideFile
