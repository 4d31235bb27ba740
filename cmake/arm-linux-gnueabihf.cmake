# 32-bit Arm with hardware floating point, which Debian names armhf: a
# 32-bit long, and on Debian 12 a 32-bit time_t.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(CROSS_QEMU qemu-arm)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
