#!/bin/bash
# Runs COMMAND with the places a router shares replaced by BOX's own:
#   /dev/console          BOX/console, a file
#   /dev/log              BOX/log, the socket the caller reads
#   /tmp                  BOX/root/tmp
#   /usr/lib/opkg/info    BOX/opkg
# and of the rest of /dev only null, zero, full, random, urandom and tty.
# COMMAND runs in BOX/root, named TOOL_ARGV0 when that is set, with
# TOOL_PRELOAD preloaded. A setup failure exits 125 with "sandbox: ...".
# Usage: unshare --mount [--map-root-user] sandbox.sh BOX COMMAND...
set -eu
trap 'echo "sandbox: cannot $BASH_COMMAND" >&2; exit 125' ERR
box=$1
shift
mkdir -p "$box/.dev" "$box/root/tmp" "$box/opkg" "$box/.usr-lib/opkg/info"
>"$box/console"

mount --rbind /dev "$box/.dev"
mount -t tmpfs -o mode=755 sandbox-dev /dev
for node in null zero full random urandom tty; do
  >"/dev/$node"
  mount --bind "$box/.dev/$node" "/dev/$node"
done
ln -s /proc/self/fd /dev/fd
ln -s fd/0 /dev/stdin
ln -s fd/1 /dev/stdout
ln -s fd/2 /dev/stderr
>/dev/console
mount --bind "$box/console" /dev/console
ln -s "$box/log" /dev/log

# The overlay makes the folder exist where opkg is not installed; the bind
# hides whatever the machine has there.
mount -t overlay -o "lowerdir=$box/.usr-lib:/usr/lib" sandbox-usr-lib /usr/lib
mount --bind "$box/opkg" /usr/lib/opkg/info

# A tree under /tmp (a clone in /tmp/x) would vanish with the machine's
# /tmp: its top folder is carried over into the private one.
top=
if [[ $box == /tmp/?*/* ]]; then
  rest=${box#/tmp/}
  top=/tmp/${rest%%/*}
  mkdir /dev/.top
  mount --rbind "$top" /dev/.top
fi
mount --bind "$box/root/tmp" /tmp
if [[ -n $top ]]; then
  mkdir -p "$top"
  mount --move /dev/.top "$top"
fi

cd "$box/root"
LD_PRELOAD=${TOOL_PRELOAD-} exec -a "${TOOL_ARGV0:-$1}" "$@"
