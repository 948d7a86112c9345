# Cross build for 64-bit ARM (Raspberry Pi 4 and 5, other arm64 boards) with
# Debian's g++-aarch64-linux-gnu; meant for the library-only tree:
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake -DMOTION_LIBRARY_ONLY=ON
#
# The programs built run here under qemu-aarch64 (Debian's qemu-user) with
# the target's libraries from /usr/aarch64-linux-gnu; CTest and the unit
# tests' discovery run them that way. The project's own flags, among them
# -ffp-contract=off (ARM compilers fuse multiply and add otherwise), apply
# as in every build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
