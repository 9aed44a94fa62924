#ifndef KORVELLO_STARTUP_H
#define KORVELLO_STARTUP_H

#include <functional>

class QCommandLineParser;
class QMainWindow;

// The tool's start-up: application object, command line, device profile,
// main window, event loop. Shared by the product and the simulator so that
// both parse and dispatch exactly alike.
namespace Startup {

// The tool's description and options, in their order: help, version,
// device ("d"), control ("c").
void addOptions(QCommandLineParser &parser);

// `shown`, when set, is called with the main window once it is shown,
// before the event loop runs.
int run(int &argc, char **argv, const std::function<void(QMainWindow &)> &shown = {});

} // namespace Startup

#endif
