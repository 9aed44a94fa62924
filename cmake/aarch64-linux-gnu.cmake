# Cross build for the device (64-bit ARM) on a Debian 12 host, with Debian's
# cross compiler and its multiarch Qt (scripts/install-deps.sh --arm64):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# The arm64 libraries and headers live in the host's own tree under
# /usr/lib/aarch64-linux-gnu, so there is no separate sysroot to point at.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KORVELLO_TARGET_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KORVELLO_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KORVELLO_TARGET_TRIPLE}-g++)
# Makes find_package() look in /usr/lib/aarch64-linux-gnu/cmake, where the
# arm64 Qt5 package files are, instead of the host's x86_64 ones.
set(CMAKE_LIBRARY_ARCHITECTURE ${KORVELLO_TARGET_TRIPLE})

# Qt's arm64 package files name moc, uic and rcc under /usr/lib/qt5/bin,
# which is where the native qtbase5-dev-tools puts the host's own: code
# generation runs natively and only the output is compiled for the target.
set(KORVELLO_QT_HOST_BINS /usr/lib/qt5/bin)
if(NOT EXISTS ${KORVELLO_QT_HOST_BINS}/moc OR NOT EXISTS ${KORVELLO_QT_HOST_BINS}/uic)
    message(FATAL_ERROR "native moc and uic missing in ${KORVELLO_QT_HOST_BINS}: "
                        "run scripts/install-deps.sh --arm64")
endif()

# Programs come from the host. Libraries, headers and packages are looked for
# under the cross C library's root first, then in /usr, where
# CMAKE_LIBRARY_ARCHITECTURE keeps the search in the aarch64-linux-gnu folders.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVELLO_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# CTest runs every test executable through user-mode emulation, and the tests
# put the same command in front of the project's executables they start
# (KORVELLO_EMULATOR, split at blanks: keep the build folder's path free of
# them). "-L /" takes the arm64 loader and C library from the host's
# multiarch tree (libc6:arm64), the same build the arm64 Qt libraries were
# linked against; the cross compiler's own copy under /usr/aarch64-linux-gnu
# may be an older build and must not be mixed in. Shell scripts and
# md5sum/tar started by the tests stay native: the emulator hands an exec of
# a host program straight to the kernel. qemu-fork-fallback.c says why every
# emulated process gets a small preload.
get_property(_korvello_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND NOT _korvello_in_try_compile)
    find_program(KORVELLO_QEMU qemu-aarch64-static)
    if(KORVELLO_QEMU)
        set(_korvello_fallback_src ${CMAKE_CURRENT_LIST_DIR}/qemu-fork-fallback.c)
        set(_korvello_fallback ${CMAKE_BINARY_DIR}/qemu/libkorvello-qemu-fork-fallback.so)
        if(NOT EXISTS ${_korvello_fallback}
           OR ${_korvello_fallback_src} IS_NEWER_THAN ${_korvello_fallback})
            file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/qemu)
            execute_process(
                COMMAND ${CMAKE_C_COMPILER} -std=c11 -O2 -Wall -Wextra -Werror -shared -fPIC
                        -o ${_korvello_fallback} ${_korvello_fallback_src}
                RESULT_VARIABLE _korvello_fallback_result)
            if(NOT _korvello_fallback_result EQUAL 0)
                message(FATAL_ERROR "cannot build ${_korvello_fallback}")
            endif()
        endif()
        set(CMAKE_CROSSCOMPILING_EMULATOR
            ${KORVELLO_QEMU} -L / -E LD_PRELOAD=${_korvello_fallback})
    endif()
endif()
