# 64-bit RISC-V, a release architecture from Debian 13 on.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CROSS_TRIPLET riscv64-linux-gnu)
set(CROSS_QEMU qemu-riscv64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
