# Included by the toolchain files: cross-builds with Debian's cross compiler
# for CROSS_TRIPLET and that architecture's multiarch libraries (dpkg
# --add-architecture; libsdl2-dev:ARCH), and runs the tests under
# qemu-user's CROSS_QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CROSS_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU})
