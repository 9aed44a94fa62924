#ifndef KORVELLO_PICTURES_SCREENREADING_H
#define KORVELLO_PICTURES_SCREENREADING_H

#include "screenpictures.h"

#include <QImage>
#include <QString>
#include <QVector>

// Which note a picture of a job's screen shows, told by drawing every note
// the job can end on with the tool's own widgets and comparing the note line
// pixel by pixel. The emulated device's pictures come from its frame buffer,
// where the tool draws with the device's font at the device's resolution;
// the note line is drawn here at every plausible pixel size, since the
// resolution of a screen is not known from its picture.
namespace ScreenReading {

struct Candidate
{
    QString name; // the end's short name, as in the pictures
    QString note;
};

// The notes the job's screen may show once its countdown runs; the
// version completes the note of an upgrade that found the device current.
QVector<Candidate> finalNotes(ScreenPictures::Screen job, const QString &version);

struct Reading
{
    int candidate = -1; // an index into the candidates; -1: unreadable
    QString reason;     // why it is unreadable, or how close the match was
};

// The candidate whose note the picture's note line shows, only when it
// fits (at most 1% of its drawn pixels differ) and no other comes close.
Reading readNote(const QImage &picture, ScreenPictures::Screen job,
                 const QVector<Candidate> &candidates);

} // namespace ScreenReading

#endif
