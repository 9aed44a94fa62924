#include "filenames.h"
#include "simulator.h"
#include "startup.h"

#include <QMainWindow>

#include <cstdio>

int main(int argc, char *argv[])
{
    // First of all, whatever the arguments: the device's reboot only ends the
    // simulator, and the tool never starts without a simulated root.
    Simulator::replaceReboot();
    // The root may be named in bytes that are not UTF-8.
    FileNames::install();
    Simulator::Arguments arguments = Simulator::parse(argc, argv);
    if (arguments.help) {
        printf("%s", Simulator::help(argc, argv).toLocal8Bit().constData());
        return 0;
    }
    if (arguments.version) {
        printf("%s\n", Simulator::versionLine().toLocal8Bit().constData());
        return 0;
    }
    QString error = arguments.error;
    if (error.isEmpty())
        error = Simulator::install(arguments.root);
    if (!error.isEmpty()) {
        fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }
    const QString platformNote = Simulator::choosePlatform(arguments);
    if (!platformNote.isEmpty()) {
        printf("%s\n", platformNote.toLocal8Bit().constData());
        fflush(stdout);
    }
    int passOnCount = static_cast<int>(arguments.passOn.size()) - 1;
    return Startup::run(passOnCount, arguments.passOn.data(),
                        [](QMainWindow &window) { Simulator::narrate(window); });
}
