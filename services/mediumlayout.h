#ifndef KORVELLO_MEDIUMLAYOUT_H
#define KORVELLO_MEDIUMLAYOUT_H

#include <QString>

// Where everything lies on a maintenance medium, written down once. The
// screens, the script runner, korvello-medium and the tests build every
// path on a medium from here.
//
//   ROOT/run/backup_script.sh, recover_script.sh, upgrade_script.sh
//   ROOT/run/data/data-SNUM/data-SNUM-TIMESTAMP-INDEX.tar   an archive
//   ROOT/run/data/data-SNUM/data-SNUM-TIMESTAMP-INDEX.md5   its side file
//   ROOT/run/upgrade/update-V*.tar                          a package
//   ROOT/run/upgrade/update-V*.tar.md5                      its side file
//   ROOT/run/log/SNUM.log                                   the scripts' history
//
// ROOT is the storage root, the medium's mount path.
namespace MediumLayout {

enum class Script { Backup, Recover, Upgrade };
const char *scriptName(Script script);
QString runFolder(const QString &root);
QString scriptPath(const QString &root, Script script);

QString backupDir(const QString &root);
QString deviceFolder(const QString &root, const QString &snum);
// "data-" + snum + "-" + time stamp + "-" + index, without extension.
QString archiveBaseName(const QString &snum, const QString &timeStamp, int index);
constexpr char kArchivePattern[] = "data-*.tar";
constexpr char kArchiveExtension[] = ".tar";
constexpr char kArchiveSideExtension[] = ".md5";

QString packageFolder(const QString &root);
constexpr char kPackagePattern[] = "update-V*.tar";
// The package version stands between these two, both case-sensitive.
constexpr char kPackageVersionLead[] = "update-";
constexpr char kPackageVersionTail[] = ".tar";
// A package's side file: its whole name with ".md5" appended.
QString packageSideFile(const QString &packagePath);

// The history the reference scripts append to, one line per run: the serial
// with every byte but letters, digits, ".", "_" and "-" as "_"; "_" when empty.
QString historyLog(const QString &root, const QString &snum);

// A folder that a job creates or hands to a script, as the medium has it.
enum class FolderState {
    Exists,
    Missing,   // can be created: nothing but missing folders on the way
    Blocked,   // a file or a dangling symbolic link stands on the way
    OffMedium, // resolves, through a symbolic link or "..", to a place off the
               // medium, or lies on another file system mounted beneath it
};
FolderState folderState(const QString &root, const QString &folder);
// The state of the device folder for a serial; OffMedium also when the
// serial leads it out of the backup folder.
FolderState deviceFolderState(const QString &root, const QString &snum);

} // namespace MediumLayout

#endif
