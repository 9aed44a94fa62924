#include "simulator.h"
#include "startup.h"

#include <QtGlobal>

#include <cstdio>

int main(int argc, char *argv[])
{
    Simulator::Arguments arguments = Simulator::parse(argc, argv);
    if (arguments.help) {
        printf("%s\n", Simulator::usage().toLocal8Bit().constData());
        fflush(stdout);
        // The tool's own help follows; printing it needs no display.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        QString error = arguments.error;
        if (error.isEmpty())
            error = Simulator::install(arguments.root);
        if (!error.isEmpty()) {
            fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
            return 2;
        }
    }
    int passOnCount = static_cast<int>(arguments.passOn.size()) - 1;
    return Startup::run(passOnCount, arguments.passOn.data());
}
