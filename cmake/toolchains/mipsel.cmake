# Debian 12 mipsel (mipsel-linux-gnu); see debian-cross.cmake.
set(QUELLARON_CROSS_TRIPLET mipsel-linux-gnu)
set(QUELLARON_CROSS_PROCESSOR mipsel)
set(QUELLARON_CROSS_QEMU mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
