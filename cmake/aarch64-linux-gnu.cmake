# Cross-build for 64-bit ARM routers with Debian's cross compiler and the
# target's libraries from multiarch packages (no sysroot):
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu libxml2-dev:arm64 \
#     qemu-user python3
#   cmake -S . -B build-aarch64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# `make cross-test` does all of it and runs the tests under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Find packages and libraries under /usr/lib/aarch64-linux-gnu, never the
# host's /usr/lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# pkg-config sees the target's .pc files alone, so libxml2 resolves to the
# arm64 library; the headers in /usr/include are shared by both.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Runs the test programs, and through them the tool, on the build machine.
# The target's loader and libraries are the multiarch ones (libc6:arm64 comes
# with libxml2:arm64) at their usual paths. No "-L /usr/aarch64-linux-gnu":
# its loader, of another glibc build than /lib/aarch64-linux-gnu/libc.so.6,
# hangs every forked child.
find_program(CFGMIGRATE_QEMU_AARCH64 qemu-aarch64)
if(CFGMIGRATE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CFGMIGRATE_QEMU_AARCH64})
endif()
