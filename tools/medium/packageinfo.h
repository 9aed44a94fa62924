#ifndef KORVELLO_MEDIUM_PACKAGEINFO_H
#define KORVELLO_MEDIUM_PACKAGEINFO_H

#include "devicefit.h"

#include <QString>
#include <QStringList>

// One upgrade package on its own, as the device and the reference upgrade
// script judge it: its name, its checksum and its layout; with a device's
// "/" at hand, which of that device's files its payload would replace.
namespace PackageInfo {

struct Info
{
    QString path;
    bool listed = false;  // a name the device lists
    QString version;      // cut from the name; empty: none
    QString digest;       // empty: unreadable
    QString sideFile;     // its digest; empty: none
    bool sideFilePresent = false;
    QString layoutError;  // why the reference script refuses the layout; empty: it takes it
    bool payload = false; // a payload/ folder, even an empty one
    qint64 payloadFiles = 0;
    bool hook = false;
    QStringList replaces; // the first kShownReplaced, as paths under "/"
    qint64 replaced = 0;
    qint64 entries = 0;   // every name the package lists
    DeviceFit::Refusal refusal; // the device's own: the script's first conflict
    bool ok() const;      // the device and the reference script would install it
};

constexpr int kShownReplaced = 20;

// deviceRoot empty: nothing is compared with a device.
Info inspect(const QString &path, const QString &deviceRoot);
QString render(const Info &info, const QString &deviceRoot);
// "device: ..." and a line end: what the device's scripts make of it.
QString refusalLine(const DeviceFit::Refusal &refusal);

} // namespace PackageInfo

#endif
