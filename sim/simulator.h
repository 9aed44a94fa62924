#ifndef KORVELLO_SIMULATOR_H
#define KORVELLO_SIMULATOR_H

#include <QString>

class QWidget;

#include <vector>

// Points the platform layer at a directory that stands for the device's file
// system, and turns the device's reboot into the simulator's own end.
namespace Simulator {

// Name of the variable that tells the medium's scripts the simulated root.
constexpr char kRootVariable[] = "KORVELLO_SIM_ROOT";

struct Arguments
{
    QString root;
    bool help = false;
    bool version = false; // --version or -v: the build stamp alone
    QString error;
    std::vector<char *> passOn;  // everything the tool's own parser gets
};

// Makes the device's reboot end the simulator. Called before anything else.
void replaceReboot();

// Any "--help" or "-h", wherever it stands (also after "--" or as the value
// of an option), asks for the help text alone: the tool is never started.
Arguments parse(int argc, char **argv);
// The simulator's text followed by the tool's own options.
QString help(int argc, char **argv);
// Validates the root and installs it; returns an error text or an empty one.
QString install(const QString &root);
// "korvello-sim " and the build stamp the main window shows.
QString versionLine();
// With no platform chosen (-platform, QT_QPA_PLATFORM) and no display to
// show a window on, picks the offscreen platform and returns the line that
// says so; else an empty text.
QString choosePlatform(const Arguments &arguments);

// Prints the screen's two lines whenever they change, as a headless run's
// transcript of what an engineer would have read.
void narrate(QWidget &window);

} // namespace Simulator

#endif
