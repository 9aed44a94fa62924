#include "mediumwriter.h"

#include "mediumlayout.h"
#include "onmedium.h"
#include "regularfile.h"
#include "upgradecatalog.h"
#include "utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

// Outside any namespace: the macro declares the resource's own function.
// A resource in a static library is linked only when something calls it.
static void initEmbeddedScripts()
{
    Q_INIT_RESOURCE(mediumscripts);
}

namespace MediumWriter {

QString embeddedScripts()
{
    static const bool initialised = [] {
        initEmbeddedScripts();
        return true;
    }();
    Q_UNUSED(initialised)
    return QStringLiteral(":/medium");
}

namespace {

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                       | QFile::ExeOther;

Result failure(const QString &error)
{
    Result result;
    result.error = error;
    return result;
}

const qint64 kCompareBlock = 64 * 1024;

bool copyScript(const QString &source, const QString &target)
{
    QFile::remove(target);
    return QFile::copy(source, target) && QFile::setPermissions(target, kExecutable);
}

QString runTar(const QStringList &arguments)
{
    QProcess tar;
    tar.start(QStringLiteral("tar"), arguments);
    if (!tar.waitForStarted(30000))
        return QStringLiteral("cannot start tar: ") + tar.errorString();
    tar.waitForFinished(-1);
    if (tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0)
        return QStringLiteral("tar failed: ")
               + QString::fromLocal8Bit(tar.readAllStandardError()).trimmed();
    return QString();
}

// The payload's contents go under "payload/" and the hook becomes
// "install.sh", the layout upgrade_script.sh unpacks. Owners are stored as
// root, since the device unpacks as root and the host's user means nothing
// there.
QString writePackage(const QString &archive, const QString &payload, const QString &hook)
{
    const QStringList common = {QStringLiteral("--owner=0"), QStringLiteral("--group=0"),
                                QStringLiteral("--numeric-owner")};
    QString error = runTar(QStringList() << QStringLiteral("-cf") << archive << common
                                         << QStringLiteral("--transform=s,^\\./,payload/,")
                                         << QStringLiteral("--transform=s,^\\.$,payload,")
                                         << QStringLiteral("-C") << payload << QStringLiteral("."));
    if (!error.isEmpty() || hook.isEmpty())
        return error;
    const QFileInfo hookInfo(hook);
    return runTar(QStringList() << QStringLiteral("-rf") << archive << common
                                << QStringLiteral("--transform=s,.*,install.sh,")
                                << QStringLiteral("-C") << hookInfo.absolutePath()
                                << hookInfo.fileName());
}

// Writes go only to folders of the medium itself: one that leads elsewhere
// through a link, or is blocked by a file, is refused before anything is made.
QString makeFolder(const QString &medium, const QString &folder)
{
    OnMedium::setHostMedium(medium);
    switch (MediumLayout::folderState(medium, folder)) {
    case MediumLayout::FolderState::Exists:
        return QString();
    case MediumLayout::FolderState::Missing:
        if (QDir().mkpath(folder))
            return QString();
        break;
    case MediumLayout::FolderState::OffMedium:
        return QStringLiteral("%1 leads off the medium").arg(folder);
    case MediumLayout::FolderState::Blocked:
        break;
    }
    return QStringLiteral("cannot create %1").arg(folder);
}

bool writeSideFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

} // namespace

bool sameContent(const QString &path, const QString &reference)
{
    QFile file;
    QFile original(reference);
    if (!RegularFile::open(file, path) || !original.open(QIODevice::ReadOnly)
        || file.size() != original.size())
        return false;
    while (!original.atEnd()) {
        if (file.read(kCompareBlock) != original.read(kCompareBlock))
            return false;
    }
    return true;
}

Result prepare(const QString &medium, bool force, const QString &scriptSource)
{
    if (!QFileInfo(medium).isDir())
        return failure(QStringLiteral("%1 is not a folder").arg(medium));
    const QStringList scripts
        = QDir(scriptSource)
              .entryList(QStringList() << QStringLiteral("*.sh"), QDir::Files, QDir::Name);
    if (scripts.isEmpty())
        return failure(QStringLiteral("no reference scripts in %1").arg(scriptSource));
    const QString run = MediumLayout::runFolder(medium);
    const QString folderError = makeFolder(medium, run);
    if (!folderError.isEmpty())
        return failure(folderError);
    Result result;
    for (const QString &name : scripts) {
        const QString source = scriptSource + QLatin1Char('/') + name;
        const QString target = run + QLatin1Char('/') + name;
        const QFileInfo there(target);
        const bool present = there.exists() || there.isSymLink();
        const bool same = present && sameContent(target, source);
        if (same && there.isExecutable()) {
            result.current << target;
            continue;
        }
        if (present && !same && !force) {
            result.kept << target;
            continue;
        }
        if (!copyScript(source, target))
            return failure(QStringLiteral("cannot write %1").arg(target));
        result.written << target;
    }
    result.ok = true;
    return result;
}

QString packageName(const QString &version)
{
    const QString name = QLatin1String(MediumLayout::kPackageVersionLead) + version
                         + QLatin1String(MediumLayout::kPackageVersionTail);
    if (version.isEmpty() || version.contains(QLatin1Char('/'))
        || version.contains(QLatin1Char('\n')) || version.contains(QLatin1Char('\r')))
        return QString();
    if (!QDir::match(QLatin1String(MediumLayout::kPackagePattern), name)
        || UpgradeCatalog::extractVersion(name) != version)
        return QString();
    return name;
}

QByteArray sideFileLine(const QString &digest, const QString &fileName)
{
    return digest.toLatin1() + "  " + fileName.toUtf8() + '\n';
}

// Empty `medium`: the package goes where the caller asked, not onto a medium.
static Result packInto(const QString &version, const QString &payload, const QString &package,
                       const QString &hook, const QString &medium)
{
    if (packageName(version).isEmpty())
        return failure(QStringLiteral("%1 cannot be a package version: it must begin with V and "
                                      "hold no \"/\" or line end")
                           .arg(version));
    if (!QFileInfo(payload).isDir())
        return failure(QStringLiteral("%1 is not a folder").arg(payload));
    if (QFileInfo::exists(payload + QStringLiteral("/etc/version.cfg")))
        return failure(QStringLiteral("the payload must not carry etc/version.cfg: the upgrade "
                                      "script writes the version from the package name"));
    if (!hook.isEmpty() && !QFileInfo(hook).isFile())
        return failure(QStringLiteral("%1 is not a file").arg(hook));
    // A package for a medium goes only into the medium's own folder; one
    // written where the caller asked (--output) goes where it was asked.
    const QString folder = QFileInfo(package).absolutePath();
    if (!medium.isEmpty()) {
        const QString folderError = makeFolder(medium, folder);
        if (!folderError.isEmpty())
            return failure(folderError);
    } else if (!QDir().mkpath(folder)) {
        return failure(QStringLiteral("cannot create %1").arg(folder));
    }
    // Until it is complete the package carries a name the device never lists.
    const QString partial = package + QStringLiteral(".part");
    QFile::remove(partial);
    const QString tarError = writePackage(partial, payload, hook);
    if (!tarError.isEmpty()) {
        QFile::remove(partial);
        return failure(tarError);
    }
    const QString digest = Utils::calculateFileMD5(partial);
    QFile::remove(package);
    if (digest.isEmpty() || !QFile::rename(partial, package))
        return failure(QStringLiteral("cannot write %1").arg(package));
    const QString sideFile = MediumLayout::packageSideFile(package);
    if (!writeSideFile(sideFile, sideFileLine(digest, QFileInfo(package).fileName())))
        return failure(QStringLiteral("cannot write %1").arg(sideFile));
    Result result;
    result.ok = true;
    result.written << package << sideFile;
    return result;
}

Result packUpgrade(const QString &version, const QString &payload, const QString &medium,
                   const QString &hook)
{
    if (!QFileInfo(medium).isDir())
        return failure(QStringLiteral("%1 is not a folder").arg(medium));
    return packInto(version, payload,
                    MediumLayout::packageFolder(medium) + QLatin1Char('/') + packageName(version),
                    hook, medium);
}

Result packUpgradeTo(const QString &version, const QString &payload, const QString &package,
                     const QString &hook)
{
    return packInto(version, payload, package, hook, QString());
}

} // namespace MediumWriter
