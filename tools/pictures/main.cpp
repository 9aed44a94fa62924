#include "platform.h"
#include "screenpictures.h"
#include "screenreading.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: korvello-pictures OUTDIR\n"
    "       korvello-pictures --read-note backup|restoration|upgrade PICTURE [VERSION]\n"
    "(on the offscreen platform)\n";

int writePictures(const QString &out)
{
    if (!ScreenPictures::useScreenFont()) {
        fprintf(stderr, "korvello-pictures: font %s missing; run scripts/install-deps.sh\n",
                ScreenPictures::kFontFamily);
        return 1;
    }
    QDir().mkpath(out);
    for (const ScreenPictures::State &state : ScreenPictures::states()) {
        const QString path = out + QLatin1Char('/') + state.name + QStringLiteral(".png");
        if (!ScreenPictures::render(state).save(path)) {
            fprintf(stderr, "korvello-pictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
        printf("%s\n", qPrintable(path));
    }
    return 0;
}

bool jobNamed(const QString &name, ScreenPictures::Screen *job)
{
    if (name == QLatin1String("backup"))
        *job = ScreenPictures::Screen::Backup;
    else if (name == QLatin1String("restoration"))
        *job = ScreenPictures::Screen::Recover;
    else if (name == QLatin1String("upgrade"))
        *job = ScreenPictures::Screen::Upgrade;
    else
        return false;
    return true;
}

// One line: the end's name, its note and how closely it fits, separated by
// tabs; or "unreadable" and why (exit code 1). The application's font stays
// the default one, which is what the tool draws with on the device.
int readNote(const QStringList &arguments)
{
    ScreenPictures::Screen job;
    if (arguments.size() < 4 || arguments.size() > 5 || !jobNamed(arguments.at(2), &job)) {
        fputs(kUsage, stderr);
        return 2;
    }
    const QImage picture(arguments.at(3));
    const QVector<ScreenReading::Candidate> notes =
        ScreenReading::finalNotes(job, arguments.value(4));
    const ScreenReading::Reading reading = picture.isNull()
        ? ScreenReading::Reading{-1, QStringLiteral("cannot read the picture ") + arguments.at(3)}
        : ScreenReading::readNote(picture, job, notes);
    if (reading.candidate < 0) {
        printf("unreadable\t%s\n", qPrintable(reading.reason));
        return 1;
    }
    const ScreenReading::Candidate &note = notes.at(reading.candidate);
    printf("%s\t%s\t%s\n", qPrintable(note.name), qPrintable(note.note), qPrintable(reading.reason));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Points become the same pixels as in the tests, whatever the host's screen.
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // No job runs, but the screens still read the device's paths: keep them
    // away from the real ones.
    QTemporaryDir device;
    Platform::setRootPath(device.path());
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String("--read-note"))
        return readNote(arguments);
    if (arguments.size() != 2) {
        fputs(kUsage, stderr);
        return 2;
    }
    return writePictures(arguments.at(1));
}
