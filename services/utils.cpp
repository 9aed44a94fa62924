#include "utils.h"

#include "filedigest.h"
#include "mediumlayout.h"
#include "platform.h"
#include "regularfile.h"
#include "sidefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cstdio>

extern const char kBuildDate[];
extern const char kBuildTime[];

using DevicePaths::kSdCardRoot;
using DevicePaths::kUsbRoot;
using DevicePaths::kVersionFile;

namespace {
const int kLastDevType = 2;
const int kLastControlType = 3;
// The most of the version file's first line that is read. A version is
// compared with one cut from a package's file name, which a file system
// keeps under 256 bytes: a longer line can match no package, and reading
// it whole would cost its whole size (a sparse file of gigabytes). Nor is
// more read than the size the file states: a kernel file that makes up
// data as it is read states none.
const qint64 kVersionLineBytes = 4096;
} // namespace

int Utils::sDevType = 0;
int Utils::sDevControlType = 0;

Utils::Utils(QObject *parent)
    : QObject(parent)
{
}

Utils::~Utils() = default;

// The comparison is unsigned on purpose: a negative value is refused like a
// too large one, without a message.
void Utils::setSDevType(int type)
{
    if (static_cast<unsigned>(type) > static_cast<unsigned>(kLastDevType))
        return;
    sDevType = type;
    qDebug() << "=== " << "setSDevType" << " " << sDevType;
}

int Utils::getSDevType()
{
    return sDevType;
}

void Utils::setSDevControlType(int state)
{
    if (static_cast<unsigned>(state) > static_cast<unsigned>(kLastControlType))
        return;
    sDevControlType = state;
    qDebug() << "=== " << "setSDevControlType" << " " << sDevControlType;
}

int Utils::getSDevControlType()
{
    return sDevControlType;
}

QString Utils::getDevicePath()
{
    const char *root = sDevType == 1 ? kSdCardRoot : kUsbRoot;
    return Platform::resolve(QString::fromLatin1(root));
}

bool Utils::checkUpgradeDirExists()
{
    return QDir(MediumLayout::packageFolder(getDevicePath())).exists();
}

QString Utils::getVerStr()
{
    return QStringLiteral("Ver: ") + QString::fromLatin1(kBuildDate) + QLatin1Char('_')
           + QString::fromLatin1(kBuildTime);
}

QString Utils::ReadVersionFromFile()
{
    return readVersionFromPath(Platform::resolve(QString::fromLatin1(kVersionFile)));
}

QString Utils::readVersionFromPath(const QString &path)
{
    const QByteArray pathBytes = path.toLocal8Bit();
    QByteArray buffer;
    QFile file;
    if (!RegularFile::open(file, path)) {
        printf("Open failed:%s\n", pathBytes.constData());
        fflush(stdout);
    } else {
        const qint64 bound = qMin(kVersionLineBytes, file.size());
        const QByteArray line = bound > 0 ? file.readLine(bound + 1) : QByteArray();
        if (line.size() == kVersionLineBytes && !line.endsWith('\n')) {
            printf("First line cut at %lld bytes:%s\n", kVersionLineBytes, pathBytes.constData());
            fflush(stdout);
        }
        // The last byte goes even when it is not a line feed: a file without
        // a final line feed loses the last character of its version.
        if (!line.isEmpty()) {
            buffer = line.left(line.size() - 1);
        } else {
            printf("Read failed:%s\n", pathBytes.constData());
            fflush(stdout);
        }
        file.close();
    }
    return QString::fromUtf8(buffer.constData());
}

QString Utils::calculateFileMD5(const QString &filePath)
{
    return FileDigest::md5Text(filePath);
}

QString Utils::extractMD5FromFile(const QString &md5FilePath)
{
    return SideFile::digest(md5FilePath);
}
