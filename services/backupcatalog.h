#ifndef KORVELLO_BACKUPCATALOG_H
#define KORVELLO_BACKUPCATALOG_H

#include "sidefile.h"

#include <QString>
#include <QStringList>

#include <functional>

// The rules that read the backups on a medium (laid out as MediumLayout
// describes): numbering and the choice of the backup to restore. No widget
// here: the screens and the host-side medium tool use the same code.
namespace BackupCatalog {

// Archives of a device folder in list order (see MediaListing).
QStringList listArchives(const QString &folder);
// The same from the names of the folder's regular files, already read.
QStringList listArchives(const QStringList &regularFiles);

// The file name without folder, up to its first ".".
QString baseName(const QString &fileName);

// Reads the backup index from a file name. Returns false when the name
// carries none (fewer than two "-" pieces); a last piece that is not a
// signed 32-bit decimal number gives index 0.
bool readIndex(const QString &fileName, int *index);

// What nextIndex gives when no next backup can be numbered.
constexpr int kNoIndex = 0;

// Index of the next backup in a device folder: highest index + 1, 1 for a
// missing folder or one without archives, never less than 2 once an archive
// is listed, and kNoIndex when an archive already carries the largest 32-bit
// index. *listedAny tells whether the folder held any listed archive.
int nextIndex(const QString &folder, bool *listedAny = nullptr);
// The same rule over a folder's archives in list order (1 for none).
int nextIndexOf(const QStringList &archives);

// One archive considered for restoration.
struct Candidate
{
    QString fileName;      // as listed
    QString base;          // baseName(fileName)
    int index = 0;
    QString archivePath;   // folder/base.tar, the name that is hashed
    QString sideFilePath;  // folder/base.md5
    SideFile::Check digests;
    bool intact() const { return digests.matches(); }
};

// The choice of the archive to restore: the intact candidate with the
// highest positive index; ties go to the first in list order. Only the
// chosen one is kept, so memory does not grow with the folder; a caller
// that wants every candidate gets each through the callback below.
struct Selection
{
    bool folderExists = false; // nothing else is filled in without it
    bool listedAny = false;    // the folder held at least one listed archive
    QString chosenPath;        // empty when nothing can be restored
    QString chosenFileName;    // as listed; empty when none
    int maxIndex = 0;          // index of the chosen archive, 0 when none
};

// The name the restoration hands its script: that of the archive it hashed,
// the base name and ".tar", whatever case the listed name was in. Empty
// when nothing is chosen.
QString restoredFileName(const Selection &selection);

// Called for each candidate right after it was hashed, in list order, so a
// caller's report of it follows the hashing's own diagnostics.
using CandidateCallback = std::function<void(const Candidate &)>;

// Hashes every candidate of the folder in list order, whatever its index,
// and keeps the winner. Reads the medium only; creates and changes nothing.
Selection selectNewestIntact(const QString &folder,
                             const CandidateCallback &onHashed = CandidateCallback());

// Hashes one candidate: its archive and side file paths give the digests.
using Hasher = std::function<SideFile::Check(const QString &archivePath,
                                             const QString &sideFilePath)>;

// The choice itself, over the archives of an existing folder in list order,
// each candidate hashed by `hash`: selectNewestIntact with the medium's
// reading taken out, so the rule can be run over many listings in memory.
Selection selectFrom(const QString &folder, const QStringList &archives, const Hasher &hash,
                     const CandidateCallback &onHashed = CandidateCallback());

} // namespace BackupCatalog

#endif
