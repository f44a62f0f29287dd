# x86_64 and glibc with libxml2 2.9.14 configured as OpenWrt configures its
# libxml2 (zlib; no iconv, ICU, lzma, HTTP, FTP), built by
# scripts/router-libs.sh xml2.9; `make cross-test-xml2.9` runs the tests.
set(router_target xml2.9)
set(cross_triplet x86_64-linux-gnu)
set(router_pkgconfig /usr/lib/x86_64-linux-gnu/pkgconfig)
include(${CMAKE_CURRENT_LIST_DIR}/router-libs.cmake)
