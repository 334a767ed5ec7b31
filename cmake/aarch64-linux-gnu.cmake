# Cross-compiling for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu
# (and libc6-dev-arm64-cross):
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#     -DBUILD_TESTING=OFF -DMIXFIT_BENCH=OFF
#
# The programs run under qemu-user (Debian's qemu-user):
#   qemu-aarch64 -L /usr/aarch64-linux-gnu build-aarch64/mixfit ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(MIXFIT_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${MIXFIT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MIXFIT_CROSS_TRIPLE}-g++)

# Libraries, headers and packages from the target's tree only; programs
# (the build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MIXFIT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# What runs a target program on this host, for anything CMake or CTest
# starts itself.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${MIXFIT_CROSS_TRIPLE})
