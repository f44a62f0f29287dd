#!/bin/sh
# Builds what routers run that the suite needs from Debian source packages
# pinned by version, into a cache that later runs reuse: the libraries of a
# router target of `make cross-test`,
#   xml2.15    libxml2 2.15 (x86_64, glibc)
#   musl       musl, zlib and libxml2 2.15 for x86_64
#   mips       zlib and libxml2 2.15 for big-endian MIPS (the cross
#              compiler's own glibc)
#   mips-musl  musl, zlib and libxml2 2.15 for big-endian MIPS
# libxml2 is configured as OpenWrt's package/libs/libxml2 configures it:
# decoding through the C library's iconv (musl's own on a router), catalogs,
# threads and zlib; no HTTP, FTP, lzma, ICU, built-in ISO-8859-X tables,
# modules or Python. zlib is linked into libxml2 (static,
# position-independent), so a target's libxml2 needs its C library alone.
# And the BusyBox the companion's tests run with:
#   busybox    BusyBox with OpenWrt's default options, for this machine
#
# Usage: router-libs.sh TARGET
# The cache is $CFGMIGRATE_ROUTER_LIBS, by default .router-libs/ of the tree
# (git-ignored; `make clean` keeps it): sources/ holds the downloaded source
# packages, TARGET/ what the target installs, apt/ the package lists of the
# deb-src entry this script adds when the machine's own serve none of the
# pinned versions. A target built by another version of this script, or in
# another folder, is built again; remove TARGET/ to force it.
set -eu

# The pins: libxml2 2.15 of Debian unstable (OpenWrt's main branch ships
# 2.15; no suite serves 2.14, the line of OpenWrt 24.10); musl 1.2.5 of
# Debian 13 with its iconv fixes, the newest the archive serves (OpenWrt
# 24.10 ships 1.2.5; unstable lists 1.2.6, whose .dsc the archive did not
# serve). A version the archive no longer serves stops the script with the
# versions it serves: take one and run the targets again.
LIBXML2=2.15.4+dfsg-1
MUSL=1.2.5-3.1~deb13u1
ZLIB=1:1.2.13.dfsg-1
# The BusyBox release whose options openwrt-busybox-defaults.txt lists.
BUSYBOX=1:1.37.0-10.1
# Where the pinned versions are, for the deb-src entry added when needed.
SUITES="bookworm trixie sid"
MIRROR=http://deb.debian.org/debian

target=${1:?usage: router-libs.sh TARGET}
tree=$(cd "$(dirname "$0")/.." && pwd)
cache=${CFGMIGRATE_ROUTER_LIBS:-$tree/.router-libs}
prefix=$cache/$target
jobs=${JOBS:-2}
# A cache restored from an older tree may hold the target as other pins or
# options built it, and one restored elsewhere libraries that name the
# folder they were built in (musl's loader, libxml2's .pc file); BusyBox
# follows its list of options too.
recipe=$({ cat "$0"; [ "$target" != busybox ] || cat "$tree/scripts/openwrt-busybox-defaults.txt"
  echo "$prefix"; } | sha256sum)
[ "$(cat "$prefix/.done" 2>/dev/null)" = "$recipe" ] && exit 0

say() { echo "router-libs: $*"; }
die() { say "$*" >&2; exit 1; }
# Runs a build step with its output in $work/log, shown when it fails.
quiet() { "$@" >>"$work/log" 2>&1 || { tail -n 40 "$work/log" >&2; die "failed in $PWD: $*"; }; }

apt_private="-o Dir::Etc::SourceList=$cache/apt/sources.list -o Dir::Etc::SourceParts=/dev/null \
  -o Dir::State::Lists=$cache/apt/lists -o Dir::Cache=$cache/apt/cache"

# The versions of the source package PACKAGE the package lists name.
versions() { # PACKAGE [APT OPTIONS]
  package=$1
  shift
  apt-cache "$@" showsrc "$package" 2>/dev/null |
    awk -v package="$package" '/^Package: / { ours = $2 == package } ours && /^Version: / { print $2 }'
}

served() { # PACKAGE VERSION [APT OPTIONS]
  package=$1 version=$2
  shift 2
  versions "$package" "$@" | grep -qxF "$version"
}

# The source package PACKAGE at the version the variable PIN names, unpacked
# with Debian's patches in $work/PACKAGE.
unpack() { # PIN PACKAGE
  eval "version=\$$1"
  mkdir -p "$cache/sources"
  dsc=$cache/sources/${2}_${version#*:}.dsc
  if [ ! -f "$dsc" ]; then
    options=""
    if ! served "$2" "$version"; then
      options=$apt_private
      # shellcheck disable=SC2086
      if ! served "$2" "$version" $options; then
        [ -d "$cache/apt/lists" ] ||
          say "no deb-src entry of this machine serves $2 $version: adding one for $SUITES" \
            "in $cache/apt (the system's sources and lists are left alone)"
        mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
        for suite in $SUITES; do echo "deb-src $MIRROR $suite main"; done >"$cache/apt/sources.list"
        # shellcheck disable=SC2086
        apt-get $options update -qq
        # shellcheck disable=SC2086
        served "$2" "$version" $options ||
          die "$MIRROR ($SUITES) no longer serves $2 $version; it serves" \
            "$(versions "$2" $options | tr '\n' ' ')-" \
            "set $1 at the top of scripts/router-libs.sh to one of them and run the target again"
      fi
    fi
    # shellcheck disable=SC2086
    (cd "$cache/sources" && apt-get $options source -qq --download-only "$2=$version" 2>&1 |
      grep -v '^W: Download is performed unsandboxed' || true)
    [ -f "$dsc" ] || die "apt-get source $2=$version gave no $dsc"
  fi
  rm -rf "${work:?}/$2"
  quiet dpkg-source --no-check -x "$dsc" "$work/$2"
}

# musl for TRIPLET in TARGET/musl/, built with the GNU tools named
# PREFIX-gcc, PREFIX-ar...; its loader's path is the one in the cache, so
# what is linked against it runs without an install. libxml2 goes in a
# folder of its own: CMake takes musl's for the system's and would give the
# tool no run path to it.
build_musl() { # TRIPLET PREFIX
  unpack MUSL musl
  cd "$work/musl"
  quiet ./configure --target="$1" CROSS_COMPILE="$2-" --prefix="$prefix/musl" --syslibdir="$prefix/musl/lib" \
    --disable-static
  quiet make -j"$jobs"
  quiet make install
}

build_zlib() { # CC
  unpack ZLIB zlib
  cd "$work/zlib"
  quiet env CC="$1" CFLAGS="-Os -fPIC" ./configure --static --prefix="$prefix"
  quiet make -j"$jobs" libz.a
  quiet make install
}

# OpenWrt's package sets every option of libxml2's CMake build, one list
# for all versions: those a version lacks (2.15 has no FTP, LZMA, MEM_DEBUG
# or RUN_DEBUG) it ignores. PROGRAMS, on there, builds xmllint and changes
# nothing of the library: not built here.
OPENWRT_ON="ZLIB ICONV THREADS CATALOG XINCLUDE XPATH XPTR SAX1 PUSH READER WRITER SCHEMAS VALID HTML C14N
  OUTPUT PATTERN REGEXPS DEBUG"
OPENWRT_OFF="HTTP FTP LZMA ICU ISO8859X LEGACY MODULES PYTHON SCHEMATRON MEM_DEBUG RUN_DEBUG THREAD_ALLOC
  TESTS"

# libxml2 with its own CMake build, as OpenWrt's package configures it; a
# cross build names the system.
build_libxml2() { # CC [SYSTEM NAME]
  unpack LIBXML2 libxml2
  compiler=$1
  set -- ${2:+-DCMAKE_SYSTEM_NAME=$2}
  [ -f "$prefix/lib/libz.a" ] &&
    set -- "$@" -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"
  for option in $OPENWRT_ON; do set -- "$@" "-DLIBXML2_WITH_$option=ON"; done
  for option in $OPENWRT_OFF PROGRAMS; do set -- "$@" "-DLIBXML2_WITH_$option=OFF"; done
  quiet env CC="$compiler" cmake -S "$work/libxml2" -B "$work/libxml2-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib "$@"
  quiet cmake --build "$work/libxml2-build" -j "$jobs"
  quiet cmake --install "$work/libxml2-build"
}

# BusyBox with the options of OpenWrt's busybox package at their defaults
# (openwrt-busybox-defaults.txt), for this machine; bin/busybox.links lists
# its applets. Conditional defaults are taken as in OpenWrt's default build,
# which has IPv6. The options only one side has are handled openly: those of
# this BusyBox the list does not name are turned off, and both kinds are
# said. OpenWrt's own applets, lock and netmsg, are not in Debian's source.
build_busybox() {
  unpack BUSYBOX busybox
  cd "$work/busybox"
  awk '/^# options with default n/ { section = "n" } /^# options with other defaults/ { section = "other" }
    /^#/ { next }
    section == "y" { print "CONFIG_" $0 "=y"; next }
    section == "n" { print "# CONFIG_" $0 " is not set"; next }
    # NAME: default V if CONDITION; ...; default V
    /^[A-Za-z0-9_]+: default / {
      name = substr($0, 1, index($0, ":") - 1)
      n = split(substr($0, length(name) + 3), choices, /; /)
      for (i = 1; i < n && choices[i] !~ / if IPV6$/; i++);
      $0 = name "=" substr(choices[i], 9, 1)
    }
    /=n$/ { sub(/=n$/, " is not set"); print "# CONFIG_" $0; next }
    { print "CONFIG_" $0 }' section=y "$tree/scripts/openwrt-busybox-defaults.txt" >"$work/openwrt"
  # allyesconfig shows every option; oldconfig settles what depends on what.
  quiet make allyesconfig
  named() { sed -n 's/^CONFIG_\([^=]*\)=.*/\1/p; s/^# CONFIG_\(.*\) is not set$/\1/p' "$1" | LC_ALL=C sort; }
  named "$work/openwrt" >"$work/openwrt.named"
  named .config | LC_ALL=C comm -13 "$work/openwrt.named" - >"$work/ours"
  { cat "$work/openwrt"; sed 's/.*/# CONFIG_& is not set/' "$work/ours"; } >.config
  yes '' | quiet make oldconfig
  say "on in OpenWrt's list, off here (absent, or what it depends on off):" "$(sed -n 's/=y$//p' "$work/openwrt" |
    while read -r option; do grep -qx "$option=y" .config || printf '%s ' "${option#CONFIG_}"; done)"
  say "not in OpenWrt's list:" "$(while read -r option; do
    grep -qx "CONFIG_$option=y" .config && printf '%s (on) ' "$option" || printf '%s (off) ' "$option"; done <"$work/ours")"
  quiet make -j"$jobs" busybox busybox.links
  mkdir -p "$prefix/bin"
  cp busybox busybox.links "$prefix/bin/"
}

musl_cc() { echo "$1 -specs $prefix/musl/lib/musl-gcc.specs"; }

work=$cache/work-$target
rm -rf "$prefix" "$work"
mkdir -p "$prefix" "$work"
say "building $target in $prefix"
case $target in
xml2.15) build_libxml2 gcc ;;
musl)
  build_musl x86_64-linux-musl x86_64-linux-gnu
  build_zlib "$(musl_cc gcc)"
  build_libxml2 "$(musl_cc gcc)" Linux
  ;;
mips)
  build_zlib mips-linux-gnu-gcc
  build_libxml2 mips-linux-gnu-gcc Linux
  ;;
mips-musl)
  build_musl mips-linux-musl mips-linux-gnu
  build_zlib "$(musl_cc mips-linux-gnu-gcc)"
  build_libxml2 "$(musl_cc mips-linux-gnu-gcc)" Linux
  ;;
busybox) build_busybox ;;
*) die "unknown target $target (xml2.15, musl, mips, mips-musl, busybox)" ;;
esac
rm -rf "$work"
echo "$recipe" >"$prefix/.done"
