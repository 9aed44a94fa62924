#include "simulator.h"

#include "platform.h"
#include "startup.h"
#include "utils.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLabel>

#include <cstdio>

namespace Simulator {

namespace {

const char kUsage[] =
    "korvello-sim --root DIR [-d N] [-c N] [Qt options such as -platform offscreen]\n"
    "\n"
    "Runs the real tool against a simulated device whose file system is DIR:\n"
    "  DIR/mnt/usb/sda1          the USB medium (device type 0 and 2)\n"
    "  DIR/mnt/sdcard/mmcblk1p1  the SD card medium (device type 1)\n"
    "  DIR/etc/version.cfg       the device's version file\n"
    "  DIR/data                  the data the reference scripts back up and restore\n"
    "A medium holds run/backup_script.sh, run/recover_script.sh,\n"
    "run/upgrade_script.sh, run/data/ (backups) and run/upgrade/ (packages).\n"
    "\n"
    "The tool itself reads and writes nothing outside DIR, and the device's\n"
    "reboot prints one line and ends the simulator with exit code 0. The\n"
    "medium's scripts run as programs of yours, with your rights: the\n"
    "reference scripts find DIR in the environment variable KORVELLO_SIM_ROOT\n"
    "and write nothing outside it (TMPDIR is DIR/tmp for scripts of your own),\n"
    "but a script you wrote yourself, or an upgrade package's install.sh hook,\n"
    "can reach whatever you can. Run packages you do not trust in a throw-away\n"
    "account or machine. The serial comes from the environment variable snum,\n"
    "as on the device. DIR must not be \"/\".\n"
    "\n"
    "With no platform chosen (-platform, QT_QPA_PLATFORM) and no display\n"
    "(DISPLAY, WAYLAND_DISPLAY), it runs on the offscreen platform and says so\n"
    "on its first line. --version prints the build stamp alone.\n"
    "\n";

constexpr int kNarrateMs = 20;

// Headless runs have no screen to look at: the note a service engineer would
// read when the device goes down is printed instead.
void printNotes()
{
    for (QWidget *widget : QApplication::allWidgets()) {
        auto *label = qobject_cast<QLabel *>(widget);
        if (!label || label->objectName() != QLatin1String("label_note") || !label->isVisible())
            continue;
        printf("korvello-sim: the screen shows: %s\n", label->text().toUtf8().constData());
    }
}

// Polls the two lines of whatever screen is shown; the window owns it.
class Narrator : public QObject
{
public:
    explicit Narrator(QWidget &window)
        : QObject(&window)
        , mWindow(window)
    {
        startTimer(kNarrateMs);
    }

protected:
    // The note first: the countdown on the second line follows the job's end.
    void timerEvent(QTimerEvent *) override
    {
        say("label_note", "note");
        say("label_renote", "second line");
    }

private:
    void say(const char *objectName, const char *what)
    {
        const QString name = QLatin1String(objectName);
        for (const QLabel *label : mWindow.findChildren<QLabel *>(name)) {
            const QString text = label->isVisible() ? label->text() : QString();
            if (text == mSaid.value(name))
                continue;
            mSaid.insert(name, text);
            printf("korvello-sim: %s: %s\n", what, text.toUtf8().constData());
            fflush(stdout);
        }
    }


    QWidget &mWindow;
    QHash<QString, QString> mSaid; // the text last printed, by the line's name
};

bool asksForHelp(const QString &arg)
{
    return arg == QLatin1String("--help") || arg == QLatin1String("-h")
           || arg == QLatin1String("-?") || arg == QLatin1String("--help-all");
}

} // namespace

void replaceReboot()
{
    Platform::setRebootHandler([] {
        printNotes();
        printf("korvello-sim: the simulated device reboots now\n");
        fflush(stdout);
        QCoreApplication::exit(0);
    });
}

Arguments parse(int argc, char **argv)
{
    Arguments parsed;
    parsed.passOn.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (asksForHelp(arg))
            parsed.help = true;
        if (arg == QLatin1String("--version") || arg == QLatin1String("-v"))
            parsed.version = true;
        if (arg == QLatin1String("--root")) {
            if (i + 1 >= argc) {
                parsed.error = QStringLiteral("--root needs a directory");
                continue;
            }
            parsed.root = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        if (arg.startsWith(QLatin1String("--root="))) {
            parsed.root = arg.mid(7);
            continue;
        }
        parsed.passOn.push_back(argv[i]);
    }
    parsed.passOn.push_back(nullptr);
    return parsed;
}

QString help(int argc, char **argv)
{
    // Only for the parser's text: no window, no device.
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    Startup::addOptions(parser);
    return QString::fromLatin1(kUsage) + parser.helpText();
}

QString install(const QString &root)
{
    if (root.isEmpty())
        return QStringLiteral("korvello-sim: --root DIR is required (see --help)");
    const QFileInfo info(root);
    if (!info.isDir())
        return QStringLiteral("korvello-sim: %1 is not a directory").arg(root);
    const QString absolute = info.canonicalFilePath();
    if (absolute == QLatin1String("/"))
        return QStringLiteral("korvello-sim: the root must not be the real /");
    const QString temporary = absolute + QStringLiteral("/tmp");
    if (!QDir().mkpath(temporary))
        return QStringLiteral("korvello-sim: cannot create %1").arg(temporary);

    Platform::setRootPath(absolute);
    qputenv(kRootVariable, absolute.toLocal8Bit());
    qputenv("TMPDIR", temporary.toLocal8Bit());
    return QString();
}

QString versionLine()
{
    return QStringLiteral("korvello-sim ") + Utils::getVerStr();
}

QString choosePlatform(const Arguments &arguments)
{
    for (const char *arg : arguments.passOn) {
        if (arg && qstrcmp(arg, "-platform") == 0)
            return QString();
    }
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return QString();
    // Qt would otherwise abort on the missing display with a message about
    // reinstalling the application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return QStringLiteral("korvello-sim: no display (DISPLAY and WAYLAND_DISPLAY unset): "
                          "the offscreen platform; the screen's lines follow");
}

void narrate(QWidget &window)
{
    new Narrator(window);
}

} // namespace Simulator
