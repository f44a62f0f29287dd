# x86_64 with musl 1.2.5 and libxml2 2.15 as OpenWrt builds them (musl's
# iconv), from scripts/router-libs.sh musl; `make cross-test-musl` runs the
# tests.
set(router_target musl)
set(cross_triplet x86_64-linux-gnu)
set(router_musl ON)
include(${CMAKE_CURRENT_LIST_DIR}/router-libs.cmake)
