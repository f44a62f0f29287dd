#!/bin/sh
# What the built tool asks of the system it runs on: the C library (musl's
# is plain libc.so) and libxml2 alone (and the loader where the target lists
# it; in a sanitizer build its runtime, or with clang's static runtime what
# that one needs), with 64-bit file offsets and times.
# Usage: linkage.sh TOOL "COMPILE AND LINK FLAGS OF THE BUILD"
set -eu
fail() { printf '%s\n' "$@" >&2; exit 1; }

needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
allowed='libc\.so(\.[0-9]+)?|libxml2\.so\.[0-9]+|ld-[-a-z0-9_.]+\.so\.[0-9]+'
case "${2:-}" in *-fsanitize=*) allowed="$allowed|lib([a-z]*san|stdc\+\+|m|gcc_s|pthread|dl|rt)\.so\.[0-9]+" ;; esac
echo "$needed" | grep -q '^libxml2\.' && ! echo "$needed" | grep -Evxq "$allowed" ||
  fail "$1 needs more than the C library and libxml2:" "$needed"

# 32-bit glibc: the plain names take 32-bit inode numbers (readdir fails with
# EOVERFLOW on a large one), the plain 64 names 32-bit times. Checked there
# alone: on 64-bit targets every name is 64-bit, and a runtime the build adds
# (gcov's) may use the plain ones.
readelf -h "$1" | grep -q 'Class: *ELF64' && exit 0
stale=$(readelf --dyn-syms -W "$1" | grep -oE " UND (readdir|(f?stat|lstat|fstatat)(64)?)@.*" || true)
[ -z "$stale" ] || fail "$1 takes 32-bit inode numbers or times:" "$stale"
