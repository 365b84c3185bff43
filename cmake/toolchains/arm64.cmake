# Debian 12 arm64 (aarch64-linux-gnu); see debian-cross.cmake.
set(QUELLARON_CROSS_TRIPLET aarch64-linux-gnu)
set(QUELLARON_CROSS_PROCESSOR aarch64)
set(QUELLARON_CROSS_QEMU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
