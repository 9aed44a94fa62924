#ifndef KORVELLO_STARTUP_H
#define KORVELLO_STARTUP_H

class QCommandLineParser;

// The tool's start-up: application object, command line, device profile,
// main window, event loop. Shared by the product and the simulator so that
// both parse and dispatch exactly alike.
namespace Startup {

// The tool's description and options, in their order: help, version,
// device ("d"), control ("c").
void addOptions(QCommandLineParser &parser);

int run(int &argc, char **argv);

} // namespace Startup

#endif
