# The body of the toolchain files of the router targets: libxml2 (and for
# musl the C library) as routers run them, built from Debian source packages
# by scripts/router-libs.sh into its cache (router-cache.cmake). The
# including file sets router_target (the script's name of it), cross_triplet
# (the compiler's), router_musl, and for another processor
# CMAKE_SYSTEM_PROCESSOR and router_emulator; router_pkgconfig adds a folder
# of .pc files (the machine's own zlib).
#
# The system is named, so the build counts as a cross build: the guide test,
# which builds with the machine's own libxml2, stays out.
set(CMAKE_SYSTEM_NAME Linux)
include(${CMAKE_CURRENT_LIST_DIR}/router-cache.cmake)
set(router_prefix ${router_cache}/${router_target})
if(NOT EXISTS ${router_prefix}/.done)
  message(FATAL_ERROR "${router_prefix} is not built: scripts/router-libs.sh ${router_target}")
endif()

set(CMAKE_C_COMPILER ${cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
set(ENV{PKG_CONFIG_LIBDIR} "${router_prefix}/lib/pkgconfig:${router_pkgconfig}")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# musl's C headers under GCC's C++ headers, which were built for glibc: the
# header force-included supplies what they take from it. The C++ runtime is
# linked statically, where a test uses it; the tool uses none.
if(router_musl)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v /dev/null
    OUTPUT_QUIET ERROR_VARIABLE search)
  string(REGEX MATCHALL "\n [^\n]*/c\\+\\+/[^\n]*" cxx_includes "${search}")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
    OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.a
    OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(libstdcxx_dir ${libstdcxx} DIRECTORY)
  set(includes -nostdinc)
  foreach(folder IN LISTS cxx_includes ITEMS ${gcc_include} ${router_prefix}/musl/include)
    string(STRIP "${folder}" folder)
    string(APPEND includes " -isystem ${folder}")
  endforeach()
  set(CMAKE_CXX_FLAGS_INIT "${includes} -include ${CMAKE_CURRENT_LIST_DIR}/musl-cxx.h")
  set(link "-specs ${router_prefix}/musl/lib/musl-gcc.specs -static-libstdc++ -L${libstdcxx_dir}")
  set(CMAKE_EXE_LINKER_FLAGS_INIT ${link})
  set(CMAKE_SHARED_LINKER_FLAGS_INIT ${link})
  set(CMAKE_MODULE_LINKER_FLAGS_INIT ${link})
endif()

if(router_emulator)
  find_program(CFGMIGRATE_EMULATOR_${router_target} ${router_emulator})
  if(CFGMIGRATE_EMULATOR_${router_target})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CFGMIGRATE_EMULATOR_${router_target}} ${router_emulator_args})
  endif()
endif()
