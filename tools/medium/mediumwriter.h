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
    QStringList kept;    // scripts changed on the medium, left as they are
    QStringList current; // already the reference, byte for byte and executable
};

// Copies every "*.sh" of scriptSource into medium/run/ and makes it
// executable. A copy already there that differs from its reference was
// probably edited on purpose (DATA_DIR): it is kept unless `force`.
Result prepare(const QString &medium, bool force = false,
               const QString &scriptSource = embeddedScripts());

// Whether the file at `path` is a regular file with exactly the bytes of
// `reference`; read in blocks, so a huge file costs no memory.
bool sameContent(const QString &path, const QString &reference);

// "update-" + version + ".tar"; empty when the version cannot be carried by
// a package name the device lists and reads back to the same version.
QString packageName(const QString &version);

// Writes medium/run/upgrade/update-VERSION.tar and its side file in md5sum's
// form. The payload folder holds what goes onto the device's "/"; the hook,
// when given, is run there after it. Both files appear under their final
// names only once complete.
Result packUpgrade(const QString &version, const QString &payload, const QString &medium,
                   const QString &hook = QString());

// The same package written to `package`, any path, with its side file beside it.
Result packUpgradeTo(const QString &version, const QString &payload, const QString &package,
                     const QString &hook = QString());

// "digest  name\n", as md5sum writes it.
QByteArray sideFileLine(const QString &digest, const QString &fileName);

} // namespace MediumWriter

#endif
