#ifndef KORVELLO_STARTUP_H
#define KORVELLO_STARTUP_H

// The tool's start-up: application object, command line, device profile,
// main window, event loop. Shared by the product and the simulator so that
// both parse and dispatch exactly alike.
namespace Startup {
int run(int &argc, char **argv);
}

#endif
