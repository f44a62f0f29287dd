# Big-endian 32-bit MIPS with musl, the pairing of OpenWrt's ath79 target:
# musl 1.2.5, zlib and libxml2 2.15 (musl's iconv) built with Debian's MIPS
# cross compiler by scripts/router-libs.sh mips-musl; the tests run under
# qemu-mips.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(router_target mips-musl)
set(cross_triplet mips-linux-gnu)
set(router_musl ON)
set(router_emulator qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/router-libs.cmake)
