# Debian 12 armhf (arm-linux-gnueabihf); see debian-cross.cmake.
set(QUELLARON_CROSS_TRIPLET arm-linux-gnueabihf)
set(QUELLARON_CROSS_PROCESSOR arm)
set(QUELLARON_CROSS_QEMU arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
