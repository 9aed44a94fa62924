#include "screenreading.h"

#include "mainwindow.h"
#include "texts.h"

#include <QFont>
#include <QLabel>

#include <algorithm>

namespace ScreenReading {

namespace {

// The note line's 16 points between 72 and 144 dots per inch: any screen a
// 1920-pixel panel of this kind may report.
const int kSmallestPixelSize = 16;
const int kLargestPixelSize = 32;
// A pixel counts as drawn, or as different, past this step of grey: the
// anti-aliased edges of a glyph are faint, its strokes are not.
const int kGreyStep = 64;
// A fit may differ in 1 in 100 of the drawn pixels; another note must
// differ in at least 1 in 20, or the two cannot be told apart.
const int kFitDivisor = 100;
const int kMarginDivisor = 20;

struct Score
{
    int candidate = -1;
    int differing = 0;
    int drawn = 0;
};

const QVector<Texts::End> &endsOf(ScreenPictures::Screen job)
{
    if (job == ScreenPictures::Screen::Backup)
        return Texts::backupEnds();
    if (job == ScreenPictures::Screen::Recover)
        return Texts::restoreEnds();
    return Texts::upgradeEnds();
}

int grey(QRgb pixel)
{
    return qGray(pixel);
}

// How many pixels of the two same-sized pictures differ, and how many the
// drawing has.
Score compare(const QImage &picture, const QImage &drawing)
{
    Score score;
    for (int y = 0; y < drawing.height(); ++y) {
        for (int x = 0; x < drawing.width(); ++x) {
            const int drawn = grey(drawing.pixel(x, y));
            if (drawn > kGreyStep)
                ++score.drawn;
            if (qAbs(drawn - grey(picture.pixel(x, y))) > kGreyStep)
                ++score.differing;
        }
    }
    return score;
}

// The job's screen with its note line, on which each candidate is drawn.
struct NoteLine
{
    std::unique_ptr<MainWindow> window;
    QLabel *label;
    QRect area; // in the window
};

NoteLine noteLine(ScreenPictures::Screen job)
{
    NoteLine line;
    line.window = ScreenPictures::build({QString(), job, QString(), QString(), false});
    line.label = line.window->findChild<QLabel *>(QStringLiteral("label_note"));
    line.area = QRect(line.label->mapTo(line.window.get(), QPoint(0, 0)), line.label->size());
    return line;
}

// The candidate's best score over the pixel sizes.
Score bestScore(NoteLine &line, const QImage &seen, const QString &note)
{
    line.label->setText(note);
    Score kept;
    for (int size = kSmallestPixelSize; size <= kLargestPixelSize; ++size) {
        QFont font = line.label->font();
        font.setPixelSize(size);
        line.label->setFont(font);
        const QImage drawing =
            line.window->grab(line.area).toImage().convertToFormat(QImage::Format_RGB32);
        const Score score = compare(seen, drawing);
        if (size == kSmallestPixelSize || score.differing < kept.differing)
            kept = score;
    }
    return kept;
}

QString counted(const Score &score, const QVector<Candidate> &candidates)
{
    return QStringLiteral("%1: %2 of %3 pixels differ")
        .arg(candidates.at(score.candidate).name)
        .arg(score.differing)
        .arg(score.drawn);
}

} // namespace

QVector<Candidate> finalNotes(ScreenPictures::Screen job, const QString &version)
{
    QVector<Candidate> notes;
    for (const Texts::End &end : endsOf(job)) {
        QString note = QString::fromUtf8(end.note);
        if (job == ScreenPictures::Screen::Upgrade
            && end.end == int(JobEnds::Upgrade::AlreadyLatest))
            note += version;
        notes.append({QString::fromLatin1(end.name), note});
    }
    return notes;
}

Reading readNote(const QImage &picture, ScreenPictures::Screen job,
                 const QVector<Candidate> &candidates)
{
    NoteLine line = noteLine(job);
    if (picture.size() != line.window->size() || candidates.isEmpty())
        return {-1, QStringLiteral("the picture is %1x%2, not the tool's window")
                        .arg(picture.width())
                        .arg(picture.height())};
    const QImage seen = picture.convertToFormat(QImage::Format_RGB32).copy(line.area);
    QVector<Score> all;
    for (int index = 0; index < candidates.size(); ++index) {
        Score score = bestScore(line, seen, candidates.at(index).note);
        score.candidate = index;
        all.append(score);
    }
    std::sort(all.begin(), all.end(),
              [](const Score &a, const Score &b) { return a.differing < b.differing; });
    const Score &best = all.first();
    if (best.differing > best.drawn / kFitDivisor)
        return {-1, QStringLiteral("no note fits; the closest, ") + counted(best, candidates)};
    if (all.size() > 1 && all.at(1).differing < best.drawn / kMarginDivisor)
        return {-1, QStringLiteral("two notes fit: ") + counted(best, candidates)
                        + QStringLiteral("; ") + counted(all.at(1), candidates)};
    return {best.candidate, counted(best, candidates)};
}

} // namespace ScreenReading
