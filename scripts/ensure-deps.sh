#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the line to run and fails.
# A package named NAME:ARCH also needs ARCH enabled in dpkg (multiarch).
set -eu

missing=""
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

native=$(dpkg --print-architecture)
new_archs=""
for package in $missing; do
  case "$package" in
  *:*) arch=${package##*:} ;;
  *) continue ;;
  esac
  [ "$arch" = "$native" ] && continue
  dpkg --print-foreign-architectures | grep -qx "$arch" && continue
  case " $new_archs " in *" $arch "*) continue ;; esac
  new_archs="$new_archs $arch"
done

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them as root with:" >&2
  for arch in $new_archs; do
    echo "  dpkg --add-architecture $arch && apt-get update" >&2
  done
  echo "  apt-get install -y --no-install-recommends$missing" >&2
  exit 1
fi
for arch in $new_archs; do
  echo "Adding architecture $arch"
  dpkg --add-architecture "$arch"
done
echo "Installing:$missing"
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends$missing
