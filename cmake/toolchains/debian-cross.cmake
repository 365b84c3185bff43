# Cross build for one of the router's processors with Debian 12's cross compilers, against a
# sysroot of that architecture's Debian packages (scripts/cross-test makes one), the tests run
# under qemu-user. Set before including this file (the per-architecture files do):
#   QUELLARON_CROSS_TRIPLET    e.g. s390x-linux-gnu
#   QUELLARON_CROSS_PROCESSOR  CMAKE_SYSTEM_PROCESSOR, e.g. s390x
#   QUELLARON_CROSS_QEMU       the qemu-user name, e.g. s390x (qemu-s390x-static)
# and pass -DQUELLARON_SYSROOT=<sysroot> on the command line.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QUELLARON_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${QUELLARON_CROSS_TRIPLET})
set(CMAKE_C_COMPILER ${QUELLARON_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUELLARON_CROSS_TRIPLET}-g++)

# try_compile projects read this file again: hand them the sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUELLARON_SYSROOT)
if(NOT QUELLARON_SYSROOT)
  message(FATAL_ERROR "cross build: pass -DQUELLARON_SYSROOT=<sysroot of ${QUELLARON_CROSS_TRIPLET}> (scripts/cross-test makes one)")
endif()
set(CMAKE_SYSROOT ${QUELLARON_SYSROOT})
set(CMAKE_FIND_ROOT_PATH ${QUELLARON_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target's .pc files only, and prefixes their paths with the sysroot.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QUELLARON_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    "${QUELLARON_SYSROOT}/usr/lib/${QUELLARON_CROSS_TRIPLET}/pkgconfig:${QUELLARON_SYSROOT}/usr/lib/pkgconfig:${QUELLARON_SYSROOT}/usr/share/pkgconfig")

# ctest (and test discovery) run the target's programs through the emulator, which finds the
# loader and the shared libraries in the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${QUELLARON_CROSS_QEMU}-static -L ${QUELLARON_SYSROOT})
