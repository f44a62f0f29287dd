#!/bin/bash
# Runs COMMAND with the places a router shares replaced by BOX's own:
#   /dev                  BOX/dev: console a file, log the socket BOX/log,
#                         null, and the links to standard input and output
#   /tmp                  BOX/root/tmp; where TMP_MOUNT is set, an empty
#                         tmpfs with those mount options instead
#   /usr/lib/opkg/info    BOX/opkg, where BOX has that folder or the machine
#                         has this one (an empty BOX/opkg hides it); where the
#                         machine has none, an overlay on /usr/lib makes it
# COMMAND runs in BOX/root, named TOOL_ARGV0 when that is set, with
# TOOL_PRELOAD preloaded. A setup failure exits 125 with "sandbox: ...".
# Usage: unshare --mount [--map-root-user] sandbox.sh BOX COMMAND...
set -eu
trap 'echo "sandbox: cannot $BASH_COMMAND" >&2; exit 125' ERR
box=$1
shift
mkdir -p "$box/root/tmp" "$box/dev/.top"
>"$box/dev/console" >"$box/dev/null"
for link in "log:$box/log" fd:/proc/self/fd stdin:fd/0 stdout:fd/1 stderr:fd/2; do
  ln -sfn "${link#*:}" "$box/dev/${link%%:*}"
done
mount --bind /dev/null "$box/dev/null"
mount --rbind "$box/dev" /dev

# Only the version report reads the opkg folder: a box gets one where its
# case brings a control file, or where the machine's own must be hidden.
if [ -d "$box/opkg" ] || [ -d /usr/lib/opkg/info ]; then
  mkdir -p "$box/opkg" "$box/.usr-lib/opkg/info"
  [ -d /usr/lib/opkg/info ] || mount -t overlay -o "lowerdir=$box/.usr-lib:/usr/lib" box /usr/lib
  mount --bind "$box/opkg" /usr/lib/opkg/info
fi

# A tree under /tmp (a clone in /tmp/x) would vanish with the machine's
# /tmp: the box path's top two folders are carried over into the private
# one (elsewhere they are put back where they were).
top=$(cut -d/ -f1-3 <<<"$box")
mount --rbind "$top" /dev/.top
if [ -n "${TMP_MOUNT-}" ]; then mount -t tmpfs tmp /tmp; else mount --bind "$box/root/tmp" /tmp; fi
mkdir -p "$top"
mount --rbind /dev/.top "$top"
[ -z "${TMP_MOUNT-}" ] || mount -o "remount,$TMP_MOUNT" /tmp

cd "$box/root"
LD_PRELOAD=${TOOL_PRELOAD-} exec -a "${TOOL_ARGV0:-$1}" "$@"
