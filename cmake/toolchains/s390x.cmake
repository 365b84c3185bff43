# Debian 12 s390x (s390x-linux-gnu); see debian-cross.cmake.
set(QUELLARON_CROSS_TRIPLET s390x-linux-gnu)
set(QUELLARON_CROSS_PROCESSOR s390x)
set(QUELLARON_CROSS_QEMU s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
