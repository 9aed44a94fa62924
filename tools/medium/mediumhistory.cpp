#include "mediumhistory.h"

#include "mediumcheck.h"
#include "mediumlayout.h"
#include "regularfile.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTextStream>

namespace MediumHistory {

namespace {

const int kFields = 7;

bool parse(const QByteArray &line, Run &run)
{
    const QList<QByteArray> fields = line.split('\t');
    static const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
    if (fields.size() != kFields || !time.match(QString::fromLatin1(fields.at(0))).hasMatch())
        return false;
    bool exitOk = false;
    bool bytesOk = false;
    bool secondsOk = false;
    run.time = QString::fromLatin1(fields.at(0));
    run.job = QString::fromUtf8(fields.at(1));
    run.exitCode = fields.at(2).toInt(&exitOk);
    run.reason = QString::fromUtf8(fields.at(3));
    run.bytes = fields.at(4).toLongLong(&bytesOk);
    run.seconds = fields.at(5).toLongLong(&secondsOk);
    run.arguments = QString::fromUtf8(fields.at(6));
    return exitOk && bytesOk && secondsOk;
}

} // namespace

const Run *History::last(const QString &job) const
{
    for (int i = runs.size() - 1; i >= 0; --i) {
        if (runs.at(i).job == job)
            return &runs.at(i);
    }
    return nullptr;
}

History read(const QString &medium, const QString &snum)
{
    History history;
    history.path = MediumLayout::historyLog(medium, snum);
    QFile file;
    history.present = RegularFile::open(file, history.path);
    if (!history.present)
        return history;
    // A log cut to its tail begins inside a line, which is not counted.
    const bool cut = file.size() > kReadLimit;
    if (cut)
        file.seek(file.size() - kReadLimit);
    for (bool first = true; !file.atEnd(); first = false) {
        QByteArray line = file.readLine(kLineLimit);
        const bool whole = line.endsWith('\n');
        line.chop(whole ? 1 : 0);
        Run run;
        if (whole && parse(line, run))
            history.runs << run;
        else if (!(first && cut) && !line.isEmpty())
            ++history.skipped;
        // The rest of a line longer than the limit is not a record either.
        while (!whole && !file.atEnd() && !file.readLine(kLineLimit).endsWith('\n')) {
        }
    }
    return history;
}

QString summary(const Run &run)
{
    return QStringLiteral("%1  exit %2 (%3), %4 bytes, %5 s")
        .arg(run.time)
        .arg(run.exitCode)
        .arg(MediumCheck::shown(run.reason))
        .arg(run.bytes)
        .arg(run.seconds);
}

QString render(const History &history, const QString &medium)
{
    QString text;
    QTextStream out(&text);
    const QString name = MediumCheck::shown(MediumCheck::onMedium(medium, history.path));
    if (!history.present) {
        out << "History " << name << ": none (no run of a reference script recorded)\n";
        out.flush();
        return text;
    }
    out << "History " << name << ": " << history.runs.size() << " run(s)\n";
    for (const Run &run : history.runs)
        out << "  " << run.job.leftJustified(8) << MediumCheck::shown(summary(run)) << "  "
            << MediumCheck::shown(run.arguments) << "\n";
    if (history.skipped > 0)
        out << "  " << history.skipped << " torn or unreadable line(s) skipped\n";
    out.flush();
    return text;
}

QJsonObject toJson(const Run &run)
{
    return QJsonObject{{"time", run.time},         {"job", run.job},
                       {"exitCode", run.exitCode}, {"reason", run.reason},
                       {"bytes", run.bytes},       {"seconds", run.seconds},
                       {"arguments", run.arguments}};
}

QJsonObject toJson(const History &history)
{
    QJsonArray runs;
    for (const Run &run : history.runs)
        runs.append(toJson(run));
    return QJsonObject{{"present", history.present},
                       {"runs", runs},
                       {"skipped", history.skipped}};
}

} // namespace MediumHistory
