# Big-endian 32-bit MIPS (as ath79 and lantiq routers) with glibc: Debian's
# cross compiler and its own C library, libxml2 2.15 as OpenWrt configures
# it from scripts/router-libs.sh mips; the tests run under qemu-mips.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(router_target mips)
set(cross_triplet mips-linux-gnu)
set(router_emulator qemu-mips)
set(router_emulator_args -L /usr/mips-linux-gnu)
# That glibc comes without its charset modules (gconv): its iconv decodes no
# legacy charset, which the cases expect of the variant no-charsets.
set(cross_case_variants no-charsets)
include(${CMAKE_CURRENT_LIST_DIR}/router-libs.cmake)
