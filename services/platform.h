#ifndef KORVELLO_PLATFORM_H
#define KORVELLO_PLATFORM_H

#include <QString>

#include <functional>

// The device's own paths, as they stand on the device.
namespace DevicePaths {
constexpr char kUsbRoot[] = "/mnt/usb/sda1";
constexpr char kSdCardRoot[] = "/mnt/sdcard/mmcblk1p1";
constexpr char kVersionFile[] = "/etc/version.cfg";
constexpr char kRebootProgram[] = "reboot";
} // namespace DevicePaths

// The one place that knows where the device's files are and how the device
// reboots. The defaults are the device's own: no root prefix, and the
// program "reboot". The simulator and the tests point the layer at a
// directory that stands for the device's file system and replace the
// reboot with their own handler.
class Platform
{
public:
    // Directory that stands for "/" of the device; empty on the device.
    static QString rootPath();
    static void setRootPath(const QString &root);

    // A device path ("/mnt/usb/sda1", "/etc/version.cfg") as seen under the root.
    static QString resolve(const QString &devicePath);

    // The device serial: the environment variable "snum", read anew at each
    // call because whatever starts the tool may set it just before a job.
    // Empty, not null, when unset.
    static QString deviceSerial();

    // Replaces running the reboot program: the simulator ends itself here,
    // as a real reboot ends the tool.
    static void setRebootHandler(std::function<void()> handler);
    static bool hasRebootHandler();

    // Runs the reboot program as a child process and waits for it; its exit
    // code says nothing useful, the device goes down or it does not.
    static void reboot();
};

#endif
