// korvello-bench: measures what the service engineer waits for, each figure
// beside a reference, and prints a Markdown table. scripts/bench.sh builds,
// prepares a scratch folder and runs it; the table goes into the README.
//
//   korvello-bench --work DIR --simulator PATH --medium DIR [--runs N] [--sections a,b]
//
// The same program is also each measured child process:
//   korvello-bench hash FILE            Utils::calculateFileMD5, prints the digest
//   korvello-bench select FOLDER        BackupCatalog::selectNewestIntact, prints maxIndex
//   korvello-bench upgrade FOLDER       the upgrade's listing, choice and check, prints the package
//   korvello-bench menu ROOT [Qt args]  the tool's start-up; prints when the menu is painted
//   korvello-bench bare [Qt args]       a bare 1920x720 window; prints when it is painted

#include "backupcatalog.h"
#include "figures.h"
#include "filenames.h"
#include "measure.h"
#include "platform.h"
#include "screenframe.h"
#include "startup.h"
#include "upgradecatalog.h"
#include "utils.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

bool gReportFirstPaint = false;

// The whole window is painted in one go, once its first widget gets a paint
// event: the zero timer fires right after that, when the frame is done.
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, [] {
                printf("painted %lld\n", static_cast<long long>(Measure::monotonicNs()));
                fflush(stdout);
                // Tear-down is not part of the start-up.
                _exit(0);
            });
        }
        return false;
    }
};

void watchFirstPaint()
{
    if (gReportFirstPaint)
        qApp->installEventFilter(new FirstPaint);
}

} // namespace

// Runs whenever an application object is made, the tool's own included.
Q_COREAPP_STARTUP_FUNCTION(watchFirstPaint)

namespace {

int hash(const char *file)
{
    const QString digest = Utils::calculateFileMD5(QFile::decodeName(file));
    printf("%s\n", digest.toLatin1().constData());
    return digest.isEmpty() ? 1 : 0;
}

int select(const char *folder)
{
    const BackupCatalog::Selection selection =
        BackupCatalog::selectNewestIntact(QFile::decodeName(folder));
    printf("%d\n", selection.maxIndex);
    return selection.chosenPath.isEmpty() ? 1 : 0;
}

int upgrade(const char *folder)
{
    const QString path = QFile::decodeName(folder);
    const QString chosen = UpgradeCatalog::choosePackage(UpgradeCatalog::listPackages(path));
    printf("%s\n", qPrintable(chosen));
    return !chosen.isEmpty() && UpgradeCatalog::checkPackage(path, chosen).verified() ? 0 : 1;
}

// argv[0] is the program's name for Qt; the rest are Qt's arguments.
int menu(const char *root, int argc, char **argv)
{
    Platform::setRootPath(QFile::decodeName(root));
    Platform::setRebootHandler([] { QCoreApplication::exit(0); });
    gReportFirstPaint = true;
    return Startup::run(argc, argv);
}

int bare(int argc, char **argv)
{
    gReportFirstPaint = true;
    QApplication app(argc, argv);
    QWidget window;
    window.resize(ScreenFrame::kScreenWidth, ScreenFrame::kScreenHeight);
    window.show();
    return app.exec();
}

QString optionValue(const QStringList &arguments, const QString &name)
{
    const int at = arguments.indexOf(name);
    return at >= 0 ? arguments.value(at + 1) : QString();
}

int usage()
{
    fprintf(stderr, "usage: korvello-bench --work DIR --simulator PATH --medium DIR "
                    "[--runs N] [--sections %s]\n",
            qPrintable(Figures::allSections().join(QLatin1Char(','))));
    return 2;
}

int measureAll(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Figures::Options options;
    options.work = optionValue(arguments, QStringLiteral("--work"));
    options.simulator = optionValue(arguments, QStringLiteral("--simulator"));
    options.mediumDir = optionValue(arguments, QStringLiteral("--medium"));
    options.self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString runs = optionValue(arguments, QStringLiteral("--runs"));
    if (!runs.isEmpty())
        options.runs = runs.toInt();
    const QString sections = optionValue(arguments, QStringLiteral("--sections"));
    options.sections = sections.isEmpty() ? Figures::allSections()
                                          : sections.split(QLatin1Char(','));
    if (options.work.isEmpty() || options.simulator.isEmpty() || options.mediumDir.isEmpty()
        || options.runs < 1)
        return usage();
    Figures figures(options);
    const bool measured = figures.measure();
    figures.print();
    return measured ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    FileNames::install();
    const char *command = argc > 1 ? argv[1] : "";
    if (argc == 3 && strcmp(command, "hash") == 0)
        return hash(argv[2]);
    if (argc == 3 && strcmp(command, "select") == 0)
        return select(argv[2]);
    if (argc == 3 && strcmp(command, "upgrade") == 0)
        return upgrade(argv[2]);
    if (argc >= 3 && strcmp(command, "menu") == 0) {
        const char *root = argv[2];
        // Qt takes "menu" for the program's name and what follows the root
        // for its own options.
        argv[2] = argv[1];
        int qtArgc = argc - 2;
        return menu(root, qtArgc, argv + 2);
    }
    if (argc >= 2 && strcmp(command, "bare") == 0) {
        int qtArgc = argc - 1;
        return bare(qtArgc, argv + 1);
    }
    return measureAll(argc, argv);
}
