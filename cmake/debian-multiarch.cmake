# The body of each toolchain file of cmake/: Debian's cross compiler for
# TRIPLET, the target's libraries as multiarch packages (no sysroot), and
# qemu-user to run what was built. The including file sets
# CMAKE_SYSTEM_PROCESSOR, cross_triplet and cross_qemu itself rather than
# taking them from the command line, which try_compile does not pass on.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
# Find packages and libraries under /usr/lib/TRIPLET, never the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${cross_triplet})

# pkg-config sees the target's .pc files alone, so libxml2 resolves to the
# target's library; the headers in /usr/include are shared by all.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${cross_triplet}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Runs the test programs, and through them the tool, on the build machine.
# The target's loader and libraries are the multiarch ones (libc6:ARCH comes
# with libxml2:ARCH) at their usual paths. No "-L /usr/TRIPLET": its loader,
# of another glibc build than /lib/TRIPLET/libc.so.6, hangs every forked
# child.
find_program(CFGMIGRATE_EMULATOR_${cross_triplet} ${cross_qemu})
if(CFGMIGRATE_EMULATOR_${cross_triplet})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CFGMIGRATE_EMULATOR_${cross_triplet}})
endif()
