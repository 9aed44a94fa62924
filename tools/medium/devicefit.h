#ifndef KORVELLO_MEDIUM_DEVICEFIT_H
#define KORVELLO_MEDIUM_DEVICEFIT_H

#include <QSet>
#include <QString>

// What the reference upgrade and restoration scripts check on a device's "/"
// before they change anything, judged on a copy of it: the first refusal,
// with the exit code the script gives it.
namespace DeviceFit {

// The reference scripts' exit codes for what they refuse before changing
// anything: too little room, a package name or layout they do not take, a
// conflict with what stands on the device.
constexpr int kRoom = 5;
constexpr int kPackageRefused = 7;
constexpr int kConflict = 9;

struct Refusal
{
    int exitCode = 0; // 0: the script goes on
    QString why;
    bool refused() const { return exitCode != 0; }
};

// The package's payload against the device, one member name at a time
// (relative to payload/, a folder ending in "/"). The script checks every
// folder before any other entry, so a folder's refusal wins over a file's.
class Payload
{
public:
    explicit Payload(const QString &deviceRoot);
    void add(const QString &name);
    // As the script finds them: room for the package of `entries` names,
    // the folders, the other entries, the version file.
    Refusal refusal(const QString &package, qint64 entries) const;

private:
    void addFolder(const QString &name);
    void addOther(const QString &name);
    QString root;
    QSet<QString> folders;
    Refusal folder;
    Refusal other;
};

// The restoration of `archive` into the device's data folder.
Refusal restoration(const QString &archive, const QString &deviceRoot);

} // namespace DeviceFit

#endif
