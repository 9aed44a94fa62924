#ifndef KORVELLO_MEDIUM_MEDIUMHISTORY_H
#define KORVELLO_MEDIUM_MEDIUMHISTORY_H

#include <QJsonObject>
#include <QString>
#include <QVector>

// The history the reference scripts leave on a medium (MediumLayout::
// historyLog), read back. The file is the medium's, so untrusted: only its
// last kReadLimit bytes are read, lines are cut at kLineLimit, and a line
// that is not a whole record (torn by a power cut, or written by something
// else) is counted and skipped.
namespace MediumHistory {

struct Run
{
    QString time; // UTC, 2026-12-06T05:33:30Z
    QString job;  // backup, restore, upgrade
    int exitCode = 0;
    QString reason;
    qint64 bytes = 0;
    qint64 seconds = 0;
    QString arguments;
};

struct History
{
    QString path;
    bool present = false;
    QVector<Run> runs; // oldest first
    int skipped = 0;
    // The newest run of a job, or nullptr.
    const Run *last(const QString &job) const;
};

constexpr qint64 kReadLimit = 256 * 1024;
constexpr qint64 kLineLimit = 4096;

History read(const QString &medium, const QString &snum);
QString render(const History &history, const QString &medium);
QJsonObject toJson(const Run &run);
QJsonObject toJson(const History &history);
// "TIME  exit N (reason), B bytes, S s"
QString summary(const Run &run);

} // namespace MediumHistory

#endif
