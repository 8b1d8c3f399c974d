# Cross-compilation for 32-bit ARMv7 hard-float Linux (Debian's
# g++-arm-linux-gnueabihf); test programs run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs link against the cross toolchain's C library, and its loader
# is the one qemu starts; LD_LIBRARY_PATH (under the -L prefix) keeps that
# loader on the same C library. Without it the loader takes the libraries of
# the host's ld.so.cache, where Debian's multiarch libc6:armhf (which
# libssl-dev:armhf brings) is listed, and a loader and a C library of two
# builds crash threaded programs. OpenSSL still comes from the multiarch
# folders through the cache.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/lib)
