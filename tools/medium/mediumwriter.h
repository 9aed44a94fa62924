#ifndef KORVELLO_MEDIUM_MEDIUMWRITER_H
#define KORVELLO_MEDIUM_MEDIUMWRITER_H

#include <QString>
#include <QStringList>

// Writing a medium: its run/ folder with the reference scripts, and upgrade
// packages with their side files.
namespace MediumWriter {

// The folder, among the tool's resources, that holds the reference scripts.
QString embeddedScripts();

struct Result
{
    bool ok = false;
    QString error;       // one line, set when !ok
    QStringList written; // paths, in the order written
};

// Copies every "*.sh" of scriptSource into medium/run/, replacing older
// copies, and makes them executable.
Result prepare(const QString &medium,
               const QString &scriptSource = embeddedScripts());

// "update-" + version + ".tar"; empty when the version cannot be carried by
// a package name the device lists and reads back to the same version.
QString packageName(const QString &version);

// Writes medium/run/upgrade/update-VERSION.tar and its side file in md5sum's
// form. The payload folder holds what goes onto the device's "/"; the hook,
// when given, is run there after it. Both files appear under their final
// names only once complete.
Result packUpgrade(const QString &version, const QString &payload, const QString &medium,
                   const QString &hook = QString());

// "digest  name\n", as md5sum writes it.
QByteArray sideFileLine(const QString &digest, const QString &fileName);

} // namespace MediumWriter

#endif
