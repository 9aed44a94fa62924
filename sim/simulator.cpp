#include "simulator.h"

#include "platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>

#include <cstdio>

namespace Simulator {

namespace {

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

} // namespace

Arguments parse(int argc, char **argv)
{
    Arguments parsed;
    parsed.passOn.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--root")) {
            if (i + 1 >= argc) {
                parsed.error = QStringLiteral("--root needs a directory");
                return parsed;
            }
            parsed.root = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        if (arg.startsWith(QLatin1String("--root="))) {
            parsed.root = arg.mid(7);
            continue;
        }
        // The tool's own parser prints its options after the simulator's text.
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            parsed.help = true;
        parsed.passOn.push_back(argv[i]);
    }
    parsed.passOn.push_back(nullptr);
    return parsed;
}

QString usage()
{
    return QStringLiteral(
        "korvello-sim --root DIR [-d N] [-c N] [Qt options such as -platform offscreen]\n"
        "\n"
        "Runs the real tool against a simulated device whose file system is DIR:\n"
        "  DIR/mnt/usb/sda1          the USB medium (device type 0 and 2)\n"
        "  DIR/mnt/sdcard/mmcblk1p1  the SD card medium (device type 1)\n"
        "  DIR/etc/version.cfg       the device's version file\n"
        "A medium holds run/backup_script.sh, run/recover_script.sh,\n"
        "run/upgrade_script.sh, run/data/ (backups) and run/upgrade/ (packages).\n"
        "The scripts find DIR in the environment variable KORVELLO_SIM_ROOT.\n"
        "Nothing outside DIR is read or written. The device's reboot prints one\n"
        "line and ends the simulator with exit code 0. The serial comes from the\n"
        "environment variable snum, as on the device.\n");
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

    Platform::setRootPath(absolute);
    qputenv(kRootVariable, absolute.toLocal8Bit());
    Platform::setRebootHandler([] {
        printNotes();
        printf("korvello-sim: the simulated device reboots now\n");
        fflush(stdout);
        QCoreApplication::exit(0);
    });
    return QString();
}

} // namespace Simulator
