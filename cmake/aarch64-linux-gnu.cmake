# Cross-builds for 64-bit Arm with Debian's cross compiler and arm64 libraries
# (dpkg --add-architecture arm64; g++-aarch64-linux-gnu, libsdl2-dev:arm64),
# and runs the tests under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# Debian names the architecture arm64.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
