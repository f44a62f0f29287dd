#!/bin/sh
# cfgmigrate-apply: carries the router's configuration document to another
# schema version exactly once, checked before it replaces anything, whatever
# interrupts it. The firmware's side of cfgmigrate; cfgmigrate-apply(8).
#
#   cfgmigrate-apply [-d] [-r] [-u VERSION] CONFIG [TARGET]
#       migrate CONFIG to TARGET (default: this firmware's schema version);
#       -u: a CONFIG without a record is in VERSION; -r: refuse a record newer
#       than this firmware knows instead of restoring a kept document
#   cfgmigrate-apply -n [-r] [-u VERSION] CONFIG [TARGET]
#       the plan of that run on standard error, the document it would leave
#       on standard output, nothing written
#   cfgmigrate-apply -s VERSION CONFIG   record that CONFIG is in VERSION
#   cfgmigrate-apply -q CONFIG           print the record, and a pending
#                                        migration
#   cfgmigrate-apply -b CONFIG [VERSION]
#       before a backup: keep a copy of CONFIG migrated down to an older
#       VERSION; print the kept documents a later run can need
#
# Beside CONFIG: CONFIG.version, the record ("version LABEL", and "carried
# LABEL" when an upgrade across a one-way row up to that newer version must
# start from the document kept in it); CONFIG.LABEL, the document as it was in
# version LABEL, kept before each migration, or a copy migrated down for an
# older image, pruned to those a later run can need; CONFIG.journal, the
# migration in progress ("from LABEL", then the record to write). A CONFIG that is a
# symbolic link is replaced where it leads: DOC below, CONFIG itself otherwise.
#
# What a migration writes, in this order, each step synced before the next:
#   1. CONFIG.LABEL      put: CONFIG's bytes
#   2. CONFIG.journal    put
#   3. DOC.new           removed, then cp -p DOC, emptied; cfgmigrate saves
#                        into it (its own temporary file, fsync and rename)
#   4. DOC               mv -f DOC.new DOC
#   5. CONFIG.version    put
#   6. CONFIG.journal    removed
# put writes CONFIG.tmp (removed first), syncs, renames it over the file and
# syncs again; -s is one put of the record. No name is opened for writing
# without being removed first: a power cut inside a rename on JFFS2 leaves
# both names on one file, so CONFIG.tmp or DOC.new may name the journal, a
# kept document or DOC itself. A run finding a journal starts at step 3; a
# run that fails removes DOC.new, CONFIG.tmp and a journal it wrote itself
# (synced). Before step 1 or 3 of a migration across the image row, a file
# made in /tmp by mktemp is removed at once.
#
# One run at a time: each holds a lock (flock) on CONFIG's folder until it
# ends, and a second run waits for it.
#
# Runs under BusyBox ash with the applets of OpenWrt's default BusyBox.
# Exit status: 0 CONFIG is in TARGET; 1 failed, CONFIG and its record as they
# were; 2 usage; 3 refused, nothing touched.

# This firmware's schema version: the default target, and the newest version
# it takes a document to be in.
KNOWN=@CFGMIGRATE_TARGET@
STORE_NS=@CFGMIGRATE_STORE_NS@
# The step table's one-way rows, "FROM TO" each: a downgrade leaves their
# changes in the document, so an upgrade must never apply them again.
ONE_WAY='@CFGMIGRATE_ONE_WAY_ROWS@'
# Every row, "FROM TO WAY" each (ONE_WAY or BOTH_WAYS), for a preview's plan.
ROWS='@CFGMIGRATE_ROWS@'
# The row whose edit writes the portal images to /tmp, "FROM TO".
IMAGE_ROW='@CFGMIGRATE_IMAGE_ROW@'

# Every file this writes may hold the configuration's secrets.
umask 077
nl='
'

usage() {
  printf '%s\n' 'Usage: cfgmigrate-apply [-d] [-r] [-u VERSION] CONFIG [TARGET]' \
    '       cfgmigrate-apply -n [-r] [-u VERSION] CONFIG [TARGET]' \
    '       cfgmigrate-apply -s VERSION CONFIG' '       cfgmigrate-apply -q CONFIG' \
    '       cfgmigrate-apply -b CONFIG [VERSION]' >&2
  exit 2
}

# One line per decision, to standard error and syslog: say PRIORITY TEXT.
# Where no log daemon listens (at boot, before it starts), to the kernel log,
# which dmesg shows and OpenWrt's log daemon takes in once it runs. A preview
# logs nothing.
say() {
  local priority=13
  printf 'cfgmigrate-apply: %s\n' "$2" >&2
  [ -z "$preview" ] || return 0
  if [ -S /dev/log ]; then
    logger -t cfgmigrate-apply -p "user.$1" -- "$2" || :
  else
    [ "$1" = notice ] || priority=11
    printf '<%d>cfgmigrate-apply: %s\n' $priority "$2" 2>/dev/null >>/dev/kmsg || :
  fi
}

# A line of a preview's plan, on standard error.
plan() {
  printf 'cfgmigrate-apply: %s\n' "$1" >&2
}

refuse() {
  say err "$1"
  exit 3
}

# A journal an earlier run left, or one whose CONFIG is already replaced,
# stays for the next run; this run's own goes, and its removal is synced so
# that a power cut cannot bring the migration back.
fail() {
  [ -z "$preview" ] || { say err "$1"; exit 1; }
  rm -f "$new" "$tmp"
  if [ -n "$pending" ]; then
    say err "$1: the migration stays pending in $journal"
  else
    rm -f "$journal"
    sync
    say err "$1: $config and its record unchanged"
  fi
  exit 1
}

# Writes TEXT, $2, to file $1 whole or not at all (standard input's bytes
# without TEXT): into $tmp, removed first, synced, renamed over $1, the
# rename synced.
put() {
  rm -f "$tmp" || return
  if [ $# = 2 ]; then printf '%s' "$2" >"$tmp"; else cat >"$tmp"; fi && sync && mv -f "$tmp" "$1" && sync
}

# The tool's packed version code of label $1 in two halves, "MAJOR*256+MINOR
# PATCH*256+BUILD" in $code, which 32-bit shell arithmetic compares safely.
# False for anything but the grammar of the step table's labels: v and three
# decimal fields of 0 to 255 joined by dots, the 1.0 line with a -YYYYMMDD
# date the build byte holds: (date - 20170800) / 2, August to December 2017.
code() {
  local label=$1 IFS=.- date field major minor patch build=0 month day days=31
  code=
  case $label in v | v*[!0-9.-]* | [!v]* | '') return 1 ;; esac
  set -- ${label#v}
  date=${4-}
  [ $# -le 4 ] && [ "v$1.$2.$3${4+-$4}" = "$label" ] || return 1
  for field in "$1" "$2" "$3"; do
    case $field in '' | ????*) return 1 ;; esac
  done
  # Leading zeros are not octal here: digits, zeros stripped, times ten.
  major=$((${1#"${1%%[!0]*}"}0 / 10)) minor=$((${2#"${2%%[!0]*}"}0 / 10))
  patch=$((${3#"${3%%[!0]*}"}0 / 10))
  [ $major -le 255 ] && [ $minor -le 255 ] && [ $patch -le 255 ] || return 1
  if [ $major.$minor = 1.0 ]; then
    case $date in 2017[01][0-9][0-3][0-9]) ;; *) return 1 ;; esac
    month=${date#2017} day=${date#201???}
    month=${month%??} day=${day#0}
    case $month in 09 | 11) days=30 ;; 08 | 10 | 12) ;; *) return 1 ;; esac
    [ "$day" -ge 1 ] && [ "$day" -le $days ] || return 1
    build=$((((${month#0} - 8) * 100 + day) / 2))
  elif [ -n "$date" ]; then
    return 1
  fi
  code="$((major * 256 + minor)) $((patch * 256 + build))"
}

# True when label $1 is an older version than label $2 (both valid).
older() {
  code "$1"
  set -- $code "$2"
  code "$3"
  set -- "$1" "$2" $code
  [ "$1" -lt "$3" ] || { [ "$1" -eq "$3" ] && [ "$2" -lt "$4" ]; }
}

# True when a row of $3 ("FROM TO" pairs) has its to-version above label
# $1, at or below $2.
row_between() {
  local low=$1 high=$2
  set -- $3
  while [ $# -ge 2 ]; do
    older "$low" "$2" && ! older "$high" "$2" && return 0
    shift 2
  done
  return 1
}

# A preview's plan of the rows cfgmigrate crosses from label $1 to $2, as it
# selects them: upwards each row whose to-version lies above the last one
# crossed, up to $2; downwards, newest first, each whose from-version lies
# below the last one, down to $2.
rows() {
  local from=$1 to=$2 last=$1 list= way
  # Downwards, newest first.
  set -- $ROWS
  older "$from" "$to" && list=$ROWS || while [ $# -ge 3 ]; do
    list="$1 $2 $3 $list"
    shift 3
  done
  set -- $list
  while [ $# -ge 3 ]; do
    [ "$3" = ONE_WAY ] && way=' (one-way)' || way=
    if older "$from" "$to"; then
      older "$last" "$2" && ! older "$to" "$2" && last=$2 && plan "  up $1 -> $2$way"
    else
      older "$1" "$last" && ! older "$1" "$to" && last=$1 && plan "  down $1 -> $2$way"
    fi
    shift 3
  done
  return 0
}

# The labels of the documents kept beside CONFIG, with those a preview would
# have kept by now, in $labels.
kept() {
  local file label
  labels=$keeping
  for file in "$config".v*; do
    label=${file#"$config".}
    code "$label" || continue
    case " $labels " in *" $label "*) ;; *) labels="$labels $label" ;; esac
  done
}

# The labels of the kept documents a later run can need, in $keep: the
# carried version's, from which an upgrade starts, and the two newest below
# the recorded version, one of which an older firmware restores.
needed() {
  local label first= second=
  kept
  for label in $labels; do
    older "$label" "$version" || continue
    if [ -z "$first" ] || older "$first" "$label"; then
      second=$first first=$label
    elif [ -z "$second" ] || older "$second" "$label"; then
      second=$label
    fi
  done
  keep="$first $second"
  [ "$carried" = "$version" ] || keep="$carried $keep"
}

# Removes the kept documents no later run can need (a preview names them):
# those in the recorded version or above it but the carried one, and with $1,
# after a change, those below it but the two newest. Their removal is synced.
prune() {
  local label pruned=
  needed
  for label in $labels; do
    case " $keep " in *" $label "*) continue ;; esac
    [ -z "$1" ] && older "$label" "$version" && continue
    [ -n "$preview" ] || rm -f "$config.$label" || fail "cannot remove $config.$label"
    pruned="$pruned $config.$label"
  done
  [ -n "$pruned" ] || return 0
  [ -z "$preview" ] || { plan "would prune$pruned"; return 0; }
  sync
  say notice "pruned what no later run needs:$pruned"
}

# Refuses label $2, named $1 in the line, unless the table's grammar.
valid() {
  code "$2" || refuse "$1 '$2' is not a version label: vMAJOR.MINOR.PATCH, with -YYYYMMDD on the 1.0 line"
}

# Reads the lines "KEY LABEL" of the record or a journal, file $1, into
# $from, $version and $carried, whatever the last line ends with (no
# newline, CRLF: a control character ending a word is dropped, matched as a
# class, as $(printf '\r') would start a process at every run). A key not
# among $2 is a state this firmware did not write.
fields() {
  local key value
  from= version= carried=
  while read -r key value || [ -n "$key" ]; do
    key=${key%[[:cntrl:]]} value=${value%[[:cntrl:]]}
    case " $2 " in
      *" $key "*) eval "$key=\$value" ;;
      *) [ -z "$key" ] || refuse "$1 holds a line '$key' this firmware does not write" ;;
    esac
  done <"$1"
}

# The root element of document $1 as "LOCAL-NAME NAMESPACE", the namespace
# that of its prefix, declared on it. Found past the markup before it:
# processing instructions (the XML declaration), comments, and declarations
# (<!DOCTYPE, and <!ENTITY and the like in its internal subset), whose quoted
# strings may hold < and >; what is left of a subset past its first > is
# more of these, and text. libxml2 escapes > and quotes in an attribute's
# value, so the start tag ends at the first >.
root() {
  awk -v q="'" '
    # Drops the text up to and with END, or all of it; true when found.
    function past(end, at) {
      at = index(text, end)
      text = at ? substr(text, at + length(end)) : ""
      return at
    }
    BEGIN { state = "prolog" }
    {
      text = $0 "\n"
      while (text != "") {
        if (state == "comment") {
          if (past("-->")) state = back
        } else if (state == "pi") {
          if (past("?>")) state = back
        } else if (state == "quote") {
          if (past(quote)) state = "declaration"
        } else if (state == "tag") {
          if (at = index(text, ">")) {
            tag = tag substr(text, 1, at - 1)
            state = "root"
            exit
          }
          tag = tag text
          text = ""
        } else if (!match(text, state == "prolog" ? "<" : "<!--|<[?]|[\">" q "]")) {
          text = ""
        } else {
          mark = substr(text, RSTART, RLENGTH)
          rest = substr(text, RSTART + RLENGTH)
          text = substr(text, RSTART)
          if (substr(text, 1, 4) == "<!--") {
            back = state; state = "comment"; text = substr(text, 5)
          } else if (substr(text, 1, 2) == "<?") {
            back = state; state = "pi"; text = substr(text, 3)
          } else if (state == "prolog" && substr(text, 1, 2) == "<!") {
            state = "declaration"; text = substr(text, 3)
          } else if (state == "prolog") {
            state = "tag"; tag = ""; text = rest
          } else if (mark == ">") {
            state = "prolog"; text = rest
          } else {
            quote = mark; state = "quote"; text = rest
          }
        }
      }
    }
    END {
      if (state != "root") exit
      gsub(/[ \t\r\n]+/, " ", tag)
      name = tag
      sub(/[ \/].*/, "", name)
      tag = substr(tag, length(name) + 1)
      prefix = index(name, ":") ? substr(name, 1, index(name, ":") - 1) : ""
      declaration = prefix == "" ? "xmlns" : "xmlns:" prefix
      while (match(tag, "[^ =]+ ?= ?(\"[^\"]*\"|" q "[^" q "]*" q ")")) {
        attribute = substr(tag, RSTART, RLENGTH)
        tag = substr(tag, RSTART + RLENGTH)
        at = index(attribute, "=")
        key = substr(attribute, 1, at - 1)
        sub(/ $/, "", key)
        value = substr(attribute, at + 1)
        sub(/^ /, "", value)
        if (key == declaration) uri = substr(value, 2, length(value) - 2)
      }
      print substr(name, length(prefix) + (prefix != "") + 1) " " uri
    }' "$1"
}

# Sets the names of the run's files from CONFIG, $1, once it is known to be
# a file. A name beginning with "-" would be an option, and one with a colon
# in its first part a URL to libxml2: both are given as ./NAME. libxml2
# decodes a %XX anywhere in a name, which no other form of it avoids.
names() {
  local link
  config=$1
  case $config in -*) config=./$config ;; esac
  case ${config%%/*} in *:*) config=./$config ;; esac
  [ -f "$config" ] || refuse "no configuration $config"
  doc=$config
  while [ -L "$doc" ]; do
    link=$(readlink "$doc")
    case $link in
      /*) doc=$link ;;
      *) case $doc in */*) doc=${doc%/*}/$link ;; *) doc=./$link ;; esac ;;
    esac
  done
  case $config$doc in *%*) refuse "$config: a name holding % cannot be given to cfgmigrate, which would read %XX as an escape and write another file" ;; esac
  record=$config.version journal=$config.journal tmp=$config.tmp new=$doc.new
}

# One run at a time: an exclusive lock on CONFIG's folder, on descriptor 9
# until the run ends. A second run waits for it.
lock() {
  local folder=.
  case $config in */*) folder=${config%/*}/ ;; esac
  { command exec 9<"$folder" && flock 9; } 2>/dev/null || {
    say err "cannot lock $folder, the folder of $config"
    exit 1
  }
}

# Before a migration of document $1 from label $2 up across the image row to
# label $3 or above: the tool writes the portal images to /tmp, and where it
# cannot, it leaves them hex and says nothing. /tmp must take a file and
# have room for twice the document (one that is gone is refused after).
room() {
  local probe need
  [ -f "$1" ] && older "$2" "$3" && row_between "$2" "$3" "$IMAGE_ROW" || return 0
  probe=$(mktemp /tmp/cfgmigrate-apply.XXXXXX 2>/dev/null) && rm -f "$probe" ||
    fail "/tmp takes no file, and cfgmigrate writes the portal images there"
  need=$((($(wc -c <"$1") * 2 + 1023) / 1024))
  [ "$(df -Pk /tmp | awk 'NR == 2 { print $4 }')" -ge $need ] 2>/dev/null ||
    fail "/tmp has less than $need KiB free, twice $1, which cfgmigrate needs for the portal images"
}

# Migrates document $3 from label $1 to $2 into file $4 and checks the
# result: cfgmigrate's status, something saved, that it parses, its root. A
# preview's file is in its scratch folder, where the tool runs and logs its
# name alone.
convert() {
  local source=$3 status=0 found
  if [ -n "$preview" ]; then
    case $source in /*) ;; *) source=$PWD/$source ;; esac
    (cd "$scratch" && exec cfgmigrate $debug "$1" "$2" "$source" "${4##*/}") || status=$?
  else
    cfgmigrate $debug "$1" "$2" "$3" "$4" || status=$?
  fi
  rm -f @CFGMIGRATE_IMAGE_GLOB@
  [ $status = 0 ] || fail "cfgmigrate exited with status $status"
  [ -s "$4" ] || fail "cfgmigrate saved nothing to $4"
  cfgmigrate "$2" "$2" "$4" /dev/null || fail "$4 does not parse"
  found=$(root "$4")
  [ "${found%% *}" = config ] || fail "the root element of $4 is not config"
  [ "${found#* }" = "$STORE_NS" ] || fail "the root of $4 is not in $STORE_NS"
}

# The migration the journal holds, in $from, $version and $carried, from its
# kept source document: run, checked, renamed over the document, recorded.
# A run that finds the journal of a killed one starts here again. A preview
# migrates document $1 (by default the kept one) into its scratch file,
# which becomes the document it would leave.
finish() {
  local source=${1:-$config.$from}
  [ -f "$source" ] || refuse "$journal migrates from $source, which is gone: put it back, or remove the journal once $config is checked"
  if [ -n "$preview" ]; then
    convert "$from" "$version" "$source" "$scratch/preview.xml"
    current=$scratch/preview.xml changed=1
    plan "would record $config as version $version${carried:+, carried $carried}"
    return 0
  fi
  # The tool's save keeps the mode and owner of the file it replaces.
  rm -f "$new" && cp -p "$doc" "$new" && : >"$new" || fail "cannot write $new"
  convert "$from" "$version" "$source" "$new"
  sync && mv -f "$new" "$doc" && sync || fail "cannot rename $new to $doc"
  pending=1
  put "$record" "version $version$nl${carried:+carried $carried$nl}" || fail "cannot write $record"
  rm -f "$journal" && sync || fail "cannot remove $journal"
  pending= changed=1
  # A restore is a migration of a kept document to its own version, the
  # newer one carried.
  if [ "$from" = "$version" ] && [ -n "$carried" ]; then
    say notice "restored $config from $source, in $version, $config.$carried kept for an upgrade"
  else
    say notice "migrated $config from $from ($source) to $version${carried:+, holding the one-way changes of $carried}"
  fi
}

# Keeps the document as it is now as $config.$1, and journals and finishes
# the migration from label $2 to $3, the record carrying $carried; a preview
# plans it.
begin() {
  if [ -n "$preview" ]; then
    plan "would keep $config as $config.$1"
    keeping="$keeping $1"
    return 0
  fi
  put "$config.$1" <"$config" || fail "cannot keep $config as $config.$1"
  put "$journal" "from $2${nl}version $3$nl${carried:+carried $carried$nl}" || fail "cannot write $journal"
}

# Migrates CONFIG, $1, to TARGET, $2, or to this firmware's version. Every
# label of the record and of a pending journal is checked, and every refusal
# made, before anything is written.
migrate() {
  local label j_from j_version j_carried reach restore= newer
  if [ -f "$journal" ]; then
    fields "$journal" "from version carried"
    valid "$journal: from" "$from"
    valid "$journal: version" "$version"
    [ -z "$carried" ] || valid "$journal: carried" "$carried"
    for label in "$from" "$version"; do
      older "$KNOWN" "$label" && refuse "$journal holds $label, newer than this firmware knows ($KNOWN): finish the migration on the newer firmware, or remove the journal once $config is checked"
    done
    j_from=$from j_version=$version j_carried=$carried
  elif [ ! -f "$record" ]; then
    [ -n "$unrecorded" ] || refuse "$config has no version record $record: name the version of the firmware that wrote it (-u VERSION; the package's CONFIG_CFGMIGRATE_UNRECORDED)"
  fi
  target=${2-$KNOWN}
  valid target "$target"
  older "$KNOWN" "$target" && refuse "target $target is newer than this firmware knows ($KNOWN)"
  if [ -f "$record" ]; then
    fields "$record" "version carried"
    valid "recorded version" "$version"
    valid "carried version" "${carried:=$version}"
  elif [ -z "$j_version" ]; then
    valid "unrecorded version" "$unrecorded"
    older "$KNOWN" "$unrecorded" && refuse "version $unrecorded is newer than this firmware knows ($KNOWN)"
    version=$unrecorded carried=$unrecorded
  fi
  # A record newer than this firmware knows (an older image flashed, a
  # dual-image router back on its other image): the newest document kept in
  # a version it knows comes back, the one in the record's version is kept
  # for a later upgrade, which starts from it. A pending journal's record
  # stands in for it.
  if [ -z "$j_version" ] && older "$KNOWN" "$version"; then
    [ -z "$refuse_newer" ] || refuse "$config is in $version, newer than this firmware knows ($KNOWN), refused (-r): flash a firmware that knows $version, whose sysupgrade keeps a copy for this one"
    kept
    for label in $labels; do
      older "$KNOWN" "$label" || { [ -n "$restore" ] && ! older "$restore" "$label"; } || restore=$label
    done
    [ -n "$restore" ] || refuse "$config is in $version, newer than this firmware knows ($KNOWN), and no document is kept in a version it knows: flash a firmware that knows $version, whose sysupgrade keeps a copy for this one"
    # Whether that document already holds the one-way changes below the
    # target this firmware cannot tell.
    older "$restore" "$target" && row_between "$restore" "$target" "$ONE_WAY" &&
      refuse "$config is in $version, newer than this firmware knows ($KNOWN), and the newest document kept in a version it knows, $config.$restore, lies below a one-way change on the way to $target: flash a firmware that knows $version, whose sysupgrade keeps a copy for this one"
    older "$carried" "$version" && carried=$version
    newer=$version version=$restore
  fi
  # The state the journal leaves, from which the rest is planned.
  [ -z "$j_version" ] || version=$j_version carried=${j_carried:-$j_version}

  # The document as it is now is kept under its version. An upgrade that would
  # apply again a one-way change the document already holds starts instead
  # from the document kept in the version it was carried down from.
  from=$version
  older "$carried" "$target" && reach=$carried || reach=$target
  if row_between "$version" "$reach" "$ONE_WAY"; then
    from=$carried
    older "$KNOWN" "$from" && refuse "$config in $version holds the one-way changes of $from, newer than this firmware knows ($KNOWN): migrate $config.$from down on the newer firmware"
    [ -f "$config.$from" ] || refuse "$config in $version holds the one-way changes of $from, whose kept document $config.$from is gone: put it back, as an upgrade of $config would apply them again"
  fi

  if [ -n "$j_version" ]; then
    pending=1
    say notice "finishing the migration $journal holds"
    [ -z "$preview" ] || plan "would finish it: $config from $j_from ($config.$j_from) to $j_version"
    room "$config.$j_from" "$j_from" "$j_version"
    label=$from from=$j_from version=$j_version carried=$j_carried
    finish
    from=$label version=$j_version carried=${j_carried:-$j_version}
  fi
  if [ -n "$newer" ]; then
    say notice "$config is in $newer, newer than this firmware knows ($KNOWN): restoring $config.$restore, $config kept as $config.$newer"
    begin "$newer" "$restore" "$restore"
    [ -z "$preview" ] || plan "would restore $config from $config.$restore"
    label=$from from=$restore
    finish
    from=$label
  fi
  if ! older "$version" "$target" && ! older "$target" "$version"; then
    if [ ! -f "$record" ] && [ -z "$changed" ]; then
      if [ -n "$preview" ]; then
        plan "would record $config as version $version"
      else
        put "$record" "version $version$nl" || fail "cannot write $record"
        say notice "recorded $config as version $version (-u)"
      fi
    fi
    say notice "$config is in $target: nothing to do"
    prune $changed
    [ -z "$preview" ] || cat "$current"
    exit 0
  fi
  [ -f "$record" ] || [ -n "$changed" ] || say notice "$config has no version record: taken to be in $version (-u)"
  [ "$from" = "$version" ] ||
    say notice "$config in $version holds the one-way changes of $from: migrating $config.$from instead, $config kept as $config.$version"
  [ "$from" = "$version" ] && label=$current || label=$config.$from
  room "$label" "$from" "$target"
  # The changes of one-way rows up to the newer of the carried version and the
  # target stay in the result.
  older "$target" "$carried" && { row_between "$target" "$carried" "$ONE_WAY" || older "$KNOWN" "$carried"; } || carried=
  begin "$version" "$from" "$target"
  if [ -n "$preview" ]; then
    plan "would migrate $config from $from ($label) to $target:"
    rows "$from" "$target"
  fi
  version=$target
  finish ${preview:+"$label"}
  prune 1
  [ -z "$preview" ] || cat "$current"
}

mode=migrate debug= pending= preview= refuse_newer= unrecorded= changed= keeping= scratch=
while getopts bdnqrs:u: option; do
  case $option in
    b) mode=backup ;;
    d) debug=-d ;;
    n) preview=1 ;;
    q) mode=query ;;
    r) refuse_newer=1 ;;
    s) mode=set version=$OPTARG ;;
    u) unrecorded=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
case $mode$# in migrate1 | migrate2 | backup1 | backup2 | query1 | set1) ;; *) usage ;; esac
[ -z "$preview$refuse_newer$unrecorded" ] || [ $mode = migrate ] || usage
names "$1"
current=$config
lock

case $mode in
  query)
    [ -f "$record" ] || refuse "$config has no version record $record"
    cat "$record" && { [ ! -f "$journal" ] || sed 's/^/pending /' "$journal"; }
    ;;
  set)
    [ -f "$journal" ] && refuse "a migration of $config is pending ($journal): run cfgmigrate-apply $config first"
    valid version "$version"
    older "$KNOWN" "$version" && refuse "version $version is newer than this firmware knows ($KNOWN)"
    put "$record" "version $version$nl" || fail "cannot write $record"
    say notice "recorded $config as version $version"
    ;;
  backup)
    [ -f "$journal" ] && refuse "a migration of $config is pending ($journal): run cfgmigrate-apply $config first"
    [ -f "$record" ] || exit 0
    fields "$record" "version carried"
    valid "recorded version" "$version"
    if [ $# = 2 ]; then
      valid "image version" "$2"
      if older "$2" "$version"; then
        older "$KNOWN" "$version" && refuse "$config is in $version, newer than this firmware knows ($KNOWN): no copy for $2"
        rm -f "$tmp" && cp -p "$doc" "$tmp" && : >"$tmp" || fail "cannot write $tmp"
        convert "$version" "$2" "$config" "$tmp"
        sync && mv -f "$tmp" "$config.$2" && sync || fail "cannot rename $tmp to $config.$2"
        say notice "kept $config migrated down to $2 as $config.$2, for the image being flashed"
        keeping=$2
      fi
    fi
    needed
    for label in $keep $keeping; do
      [ -f "$config.$label" ] && printf '%s\n' "$config.$label"
    done | sort -u
    ;;
  migrate)
    if [ -n "$preview" ]; then
      scratch=$(mktemp -d /tmp/cfgmigrate-apply.XXXXXX) || fail "cannot make a scratch folder in /tmp"
      trap 'rm -rf "$scratch"' EXIT
    fi
    migrate "$@"
    ;;
esac
