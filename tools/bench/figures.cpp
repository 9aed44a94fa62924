// The frame every figure shares: the sections in their order, the table
// and its notes. Each figure is measured in a file of its own
// (digestfigures.cpp, restorationfigures.cpp, ...).

#include "figures.h"

#include "measure.h"
#include "mediumlayout.h"

#include <QDir>

#include <cstdio>

Figures::Figures(const Options &options)
    : mOptions(options)
    , mCold(Measure::canDropCaches())
{
    if (!mCold)
        mNotes << QStringLiteral("Not run as root: the page cache could not be dropped, so "
                                 "every cold figure is missing.");
}

QStringList Figures::allSections()
{
    return {QStringLiteral("digest"), QStringLiteral("restoration"), QStringLiteral("backup"),
            QStringLiteral("listing"), QStringLiteral("crowds"), QStringLiteral("startup")};
}

bool Figures::measure()
{
    const std::vector<std::pair<QString, bool (Figures::*)()>> sections = {
        {QStringLiteral("digest"), &Figures::digest},
        {QStringLiteral("restoration"), &Figures::restoration},
        {QStringLiteral("backup"), &Figures::backupJob},
        {QStringLiteral("listing"), &Figures::listing},
        {QStringLiteral("crowds"), &Figures::crowds},
        {QStringLiteral("startup"), &Figures::startUp},
    };
    for (const auto &section : sections) {
        if (!mOptions.sections.contains(section.first))
            continue;
        fprintf(stderr, "korvello-bench: measuring %s\n", qPrintable(section.first));
        const bool measured = (this->*section.second)();
        // Each section's data goes before the next is written.
        QDir(path(section.first)).removeRecursively();
        if (!measured)
            return false;
    }
    return true;
}

void Figures::print() const
{
    printf("| figure | Korvello | reference | reference's figure | Korvello / reference |\n"
           "|---|---|---|---|---|\n");
    for (const Row &row : mRows) {
        const QString ratio = row.ratio < 0 ? QStringLiteral("") : QString::number(row.ratio, 'f', 2);
        // A reference reads "what it is" then its value and unit: one column each.
        const QString name = row.reference.section(QLatin1Char(' '), 0, -3);
        const QString value = row.reference.section(QLatin1Char(' '), -2);
        printf("| %s | %s | %s | %s | %s |\n", row.figure.toUtf8().constData(),
               row.korvello.toUtf8().constData(), name.toUtf8().constData(),
               value.toUtf8().constData(), ratio.toUtf8().constData());
    }
    if (!mNotes.isEmpty())
        printf("\n");
    for (const QString &note : mNotes)
        printf("- %s\n", note.toUtf8().constData());
    fflush(stdout);
}

QString Figures::path(const QString &name) const
{
    return mOptions.work + QLatin1Char('/') + name;
}

QString Figures::outputFile() const
{
    return path(QStringLiteral("output.txt"));
}

void Figures::addRow(const QString &figure, const QString &korvello, const QString &reference,
                     double ratio)
{
    mRows.append(Row{figure, korvello, reference, ratio});
}

bool Figures::fail(const QString &why) const
{
    fprintf(stderr, "korvello-bench: %s\n", why.toLocal8Bit().constData());
    return false;
}

QString Figures::archiveBase(const QString &deviceFolder, int index)
{
    const QString name =
        MediumLayout::archiveBaseName(QLatin1String(kSerial), QLatin1String(kTimeStamp), index);
    return deviceFolder + QLatin1Char('/') + name;
}
