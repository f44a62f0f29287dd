#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the line to run and fails.
set -eu

missing=""
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them as root with:" >&2
  echo "  apt-get install -y --no-install-recommends$missing" >&2
  exit 1
fi
echo "Installing:$missing"
apt-get update -qq
apt-get install -y -qq --no-install-recommends$missing
