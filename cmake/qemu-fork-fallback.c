/*
 * Preloaded into every arm64 process that the cross build's tests run under
 * qemu user emulation (see aarch64-linux-gnu.cmake); never part of the device
 * image.
 *
 * Qt 5.15 starts child processes with clone(CLONE_PIDFD) when a probe,
 * waitid(P_PIDFD) on a closed descriptor, says the kernel knows pidfds. The
 * probe reaches the host kernel, which does, but qemu 7.2 refuses
 * CLONE_PIDFD with EINVAL, so no QProcess could start a script, md5sum or
 * the reboot stub. Answering the probe the way a kernel without pidfds
 * would makes Qt use a plain fork(), which qemu emulates; Qt 5.12 on the
 * device always forks that way.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

enum { kWaitIdTypePidFd = 3 }; /* P_PIDFD, missing from older headers */

/* The preload is meant for the emulated process alone: the native programs
 * it starts (sh, md5sum, tar) would only complain about an arm64 library. An
 * emulated child gets it again from the emulator's command line. */
__attribute__((constructor)) static void keepPreloadFromChildren(void)
{
    unsetenv("LD_PRELOAD");
}

long syscall(long number, ...)
{
    long args[6];
    va_list list;
    va_start(list, number);
    for (int i = 0; i < 6; ++i)
        args[i] = va_arg(list, long);
    va_end(list);

    if (number == SYS_waitid && args[0] == kWaitIdTypePidFd && (int)args[1] == INT_MAX) {
        errno = EINVAL;
        return -1;
    }

    static long (*next)(long, ...);
    if (!next)
        next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}
