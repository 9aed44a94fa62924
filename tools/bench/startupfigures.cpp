// The start-up: from the start of the process to the first paint of its
// menu, against a bare window of the screen's size painted by the same
// libraries. What is left over is the tool's own start-up.

#include "figures.h"

#include "measure.h"
#include "screenframe.h"

#include <QDir>
#include <QRegularExpression>

using Measure::secondsText;
using Measure::alternate;
using Measure::Alternated;
using Measure::Run;

bool Figures::startUp()
{
    const QString root = path(QStringLiteral("startup"));
    QDir().mkpath(root);
    const QStringList platform = {QStringLiteral("-platform"), QStringLiteral("offscreen")};
    const QStringList menu = QStringList{mOptions.self, QStringLiteral("menu"), root} + platform;
    const QStringList bare = QStringList{mOptions.self, QStringLiteral("bare")} + platform;
    const Alternated runs = alternate(menu, bare, 2 * mOptions.runs + 1, false, outputFile());
    if (!runs.failure.isEmpty())
        return fail(runs.failure);
    auto paintedAfter = [](const std::vector<Run> &list) {
        std::vector<double> values;
        static const QRegularExpression painted(QStringLiteral("painted (\\d+)"));
        for (const Run &run : list) {
            const QRegularExpressionMatch match = painted.match(QString::fromLatin1(run.output));
            if (match.hasMatch())
                values.push_back(static_cast<double>(match.captured(1).toLongLong() - run.startedNs)
                                 / 1e9);
        }
        return values.size() == list.size() ? Measure::median(values) : -1.0;
    };
    const double ours = paintedAfter(runs.korvello);
    const double theirs = paintedAfter(runs.reference);
    if (ours < 0 || theirs < 0)
        return fail(QStringLiteral("a window did not report its first paint"));
    addRow(QStringLiteral("start-up to the menu painted"), secondsText(ours),
           QStringLiteral("bare %1x%2 Qt window painted ")
                   .arg(ScreenFrame::kScreenWidth)
                   .arg(ScreenFrame::kScreenHeight)
               + secondsText(theirs),
           ours / theirs);
    mNotes << QStringLiteral("Start-up runs on the offscreen platform, from the process's start "
                             "to the end of its window's first paint; both link the same "
                             "libraries.");
    return true;
}
