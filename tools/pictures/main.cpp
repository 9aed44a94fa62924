#include "platform.h"
#include "screenpictures.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

// korvello-pictures OUTDIR: one PNG per state into OUTDIR.
int main(int argc, char *argv[])
{
    // Points become the same pixels as in the tests, whatever the host's screen.
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    if (app.arguments().size() != 2) {
        fprintf(stderr, "usage: korvello-pictures OUTDIR (on the offscreen platform)\n");
        return 2;
    }
    if (!ScreenPictures::useScreenFont()) {
        fprintf(stderr, "korvello-pictures: font %s missing; run scripts/install-deps.sh\n",
                ScreenPictures::kFontFamily);
        return 1;
    }
    // No job runs, but the screens still read the device's paths: keep them
    // away from the real ones.
    QTemporaryDir device;
    Platform::setRootPath(device.path());
    const QString out = app.arguments().at(1);
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
