# Debian 12 armhf (arm-linux-gnueabihf); see debian-cross.cmake.
set(QUELLARON_CROSS_TRIPLET arm-linux-gnueabihf)
set(QUELLARON_CROSS_PROCESSOR arm)
set(QUELLARON_CROSS_QEMU arm)
# GCC notes on every std::vector<...> argument that its passing changed in GCC 7.1; everything
# here is built by one compiler, so the note says nothing.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
