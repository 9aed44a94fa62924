#include "packageinfo.h"

#include "mediumcheck.h"
#include "mediumlayout.h"
#include "sidefile.h"
#include "upgradecatalog.h"
#include "utils.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

namespace PackageInfo {

namespace {

// Longer names are cut: they are only counted and compared.
const qint64 kNameLimit = 4096;
const int kWaitMs = 1000;

// One member name of the package's listing, as the reference script reads it.
void judge(const QString &member, const QString &deviceRoot, DeviceFit::Payload &fit, Info &info)
{
    ++info.entries;
    QString name = member;
    if (name.startsWith(QLatin1String("./")))
        name = name.mid(2);
    if (member.split(QLatin1Char('/')).contains(QStringLiteral("..")) && info.layoutError.isEmpty())
        info.layoutError = QStringLiteral("holds a name with \"..\"");
    if (name == QLatin1String("payload/etc/version.cfg"))
        info.layoutError = QStringLiteral("carries etc/version.cfg; the version comes from the "
                                          "package name");
    if (name == QLatin1String("install.sh"))
        info.hook = true;
    if (!name.startsWith(QLatin1String("payload/")))
        return;
    info.payload = true;
    fit.add(name.mid(8));
    if (name.endsWith(QLatin1Char('/')))
        return;
    ++info.payloadFiles;
    const QString target = name.mid(7); // "/usr/bin/app"
    const QFileInfo there(deviceRoot + target);
    if (deviceRoot.isEmpty() || (!there.exists() && !there.isSymLink()))
        return;
    if (++info.replaced <= kShownReplaced)
        info.replaces << target;
}

// The listing is read as it comes: a package of a million names costs a
// line at a time.
QString readLayout(const QString &path, const QString &deviceRoot, Info &info)
{
    DeviceFit::Payload fit(deviceRoot);
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-tf"), path});
    if (!tar.waitForStarted())
        return QStringLiteral("cannot start tar");
    while (tar.state() != QProcess::NotRunning || tar.bytesAvailable() > 0) {
        if (!tar.canReadLine() && tar.state() != QProcess::NotRunning) {
            tar.waitForReadyRead(kWaitMs);
            continue;
        }
        const QByteArray line = tar.readLine(kNameLimit);
        if (line.isEmpty())
            break;
        judge(QString::fromUtf8(line).remove(QLatin1Char('\n')), deviceRoot, fit, info);
    }
    if (tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0)
        return QStringLiteral("tar cannot list it");
    if (!info.payload && !info.hook && info.layoutError.isEmpty())
        return QStringLiteral("holds neither payload/ nor install.sh");
    if (!deviceRoot.isEmpty() && info.layoutError.isEmpty())
        info.refusal = fit.refusal(path, info.entries);
    return info.layoutError;
}

QString sideFileText(const Info &info)
{
    if (!info.sideFile.isEmpty())
        return info.sideFile;
    return info.sideFilePresent ? QStringLiteral("without a digest") : QStringLiteral("missing");
}

} // namespace

QString refusalLine(const DeviceFit::Refusal &refusal)
{
    if (!refusal.refused())
        return QStringLiteral("device: no conflict\n");
    return QStringLiteral("device: refused, exit %1: %2\n")
        .arg(refusal.exitCode)
        .arg(MediumCheck::shown(refusal.why));
}

bool Info::ok() const
{
    return listed && !version.isEmpty() && !digest.isEmpty() && digest == sideFile
           && layoutError.isEmpty() && !refusal.refused();
}

Info inspect(const QString &path, const QString &deviceRoot)
{
    Info info;
    info.path = path;
    const QString name = QFileInfo(path).fileName();
    info.listed = QDir::match(QLatin1String(MediumLayout::kPackagePattern), name);
    info.version = UpgradeCatalog::extractVersion(name);
    const QString sideFile = MediumLayout::packageSideFile(path);
    const SideFile::Check check = SideFile::check(path, sideFile);
    info.digest = check.calMd5;
    info.sideFile = check.fileMd5;
    const QFileInfo side(sideFile);
    info.sideFilePresent = side.exists() || side.isSymLink();
    info.layoutError = info.digest.isEmpty() ? QStringLiteral("the package cannot be read")
                                             : readLayout(path, deviceRoot, info);
    return info;
}

QString render(const Info &info, const QString &deviceRoot)
{
    using MediumCheck::shown;
    QString text;
    QTextStream out(&text);
    out << "Package " << shown(info.path) << "\n";
    out << "  listed by the device: " << (info.listed ? "yes" : "no, the device lists only ")
        << (info.listed ? "" : MediumLayout::kPackagePattern) << "\n";
    out << "  version: \"" << shown(info.version) << "\"\n";
    out << "  digest: " << (info.digest.isEmpty() ? QStringLiteral("unreadable") : info.digest)
        << "\n  side file: " << sideFileText(info) << "\n";
    out << "  checksum: " << (!info.digest.isEmpty() && info.digest == info.sideFile ? "holds" : "fails")
        << "\n";
    if (info.layoutError.isEmpty())
        out << "  layout: taken; " << info.payloadFiles << " payload file(s), install.sh: "
            << (info.hook ? "yes" : "no") << "\n";
    else
        out << "  layout: refused: " << shown(info.layoutError) << "\n";
    if (!deviceRoot.isEmpty()) {
        out << "  under " << shown(deviceRoot) << ": replaces " << info.replaced << " file(s)\n";
        for (const QString &target : info.replaces)
            out << "    " << shown(target) << "\n";
        if (info.replaced > info.replaces.size())
            out << "    and " << info.replaced - info.replaces.size() << " more\n";
        if (info.layoutError.isEmpty())
            out << "  " << refusalLine(info.refusal);
    }
    out.flush();
    return text;
}

} // namespace PackageInfo
