#ifndef KORVELLO_BENCH_FIGURES_H
#define KORVELLO_BENCH_FIGURES_H

#include <QString>
#include <QStringList>
#include <QVector>

// The figures that matter to a service engineer, each measured beside a
// reference in the same run: the digest against md5sum, the restoration's
// choice against md5sum of the same backups, a whole backup job against tar
// alone, numbering a crowded device folder against a bare listing, the
// memory of choosing among many backups and packages against empty folders,
// and the start-up against a bare window.
class Figures
{
public:
    struct Options
    {
        QString work;       // scratch folder for the data, emptied section by section
        QString simulator;  // korvello-sim
        QString mediumDir;  // the reference scripts (medium/)
        QString self;       // this program, for the child processes
        int runs = 5;       // runs per figure, of which the median counts
        QStringList sections;
    };

    explicit Figures(const Options &options);

    static QStringList allSections();

    // The bench's backups: one serial, one time stamp, any index.
    static constexpr char kSerial[] = "BENCH";
    static constexpr char kTimeStamp[] = "20260101000000";
    // A backup's path in a device folder, without extension.
    static QString archiveBase(const QString &deviceFolder, int index);

    // Runs the chosen sections; false after the first one that could not be
    // measured (its reason is on standard error).
    bool measure();
    void print() const;

private:
    struct Row
    {
        QString figure;
        QString korvello;
        QString reference;
        double ratio;  // korvello / reference, < 0 when there is none
    };

    bool digest();
    bool restoration();
    bool backupJob();
    bool listing();
    bool crowds();
    bool startUp();

    QString path(const QString &name) const;
    QString outputFile() const;
    void addRow(const QString &figure, const QString &korvello, const QString &reference,
                double ratio);
    bool fail(const QString &why) const;

    Options mOptions;
    bool mCold;
    QVector<Row> mRows;
    QStringList mNotes;
};

#endif
