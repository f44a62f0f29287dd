# x86_64 and glibc with libxml2 2.15 as OpenWrt configures it (glibc's
# iconv, catalogs, threads, zlib; no HTTP, lzma, ICU), built by
# scripts/router-libs.sh xml2.15; `make cross-test-xml2.15` builds it, this
# tree, and runs the tests.
set(router_target xml2.15)
set(cross_triplet x86_64-linux-gnu)
set(router_pkgconfig /usr/lib/x86_64-linux-gnu/pkgconfig)
include(${CMAKE_CURRENT_LIST_DIR}/router-libs.cmake)
