# Sourced by sysupgrade with every /lib/upgrade/*.sh. Before the backup is
# made, the database's kept documents that a later run needs join the list
# (the database and its record are in /lib/upgrade/keep.d/cfgmigrate), and
# for an image of an older schema version a copy of the database migrated
# down to it: the older firmware's boot takes that copy up. The database and
# its record are not touched: a flash cancelled after this leaves them as
# they were, the copy beside them.

# The schema version of the image being flashed: from the metadata its check
# left, the image's own cfgmigrate_schema, or its firmware version looked up
# in the releases this firmware knows (VERSION=LABEL each).
cfgmigrate_image_schema() {
	local meta=/tmp/sysupgrade.meta
	local schema version release

	[ -n "$IMAGE" ] && [ -s "$meta" ] || return 1
	schema=$(jsonfilter -i "$meta" -e '@.cfgmigrate_schema') && [ -n "$schema" ] && {
		echo "$schema"
		return 0
	}
	version=$(jsonfilter -i "$meta" -e '@.version.version') || return 1
	for release in @FIRMWARES@; do
		[ "${release%%=*}" = "$version" ] || continue
		echo "${release#*=}"
		return 0
	done
	return 1
}

cfgmigrate_conffiles() {
	local list="$1"
	local database='@DATABASE@'

	[ -f "$database" ] || return 0
	cfgmigrate-apply -b "$database" $(cfgmigrate_image_schema) >>"$list"
}

# While a migration of the database is pending (its last run failed), the
# image is refused: the backup would pair the database with a record it may
# not match. The next boot finishes it.
cfgmigrate_check_pending() {
	local database='@DATABASE@'

	[ -f "$database" ] || return 0
	cfgmigrate-apply -q "$database" 2>/dev/null | grep -q '^pending ' || return 0
	echo "A migration of $database is pending: reboot, or run cfgmigrate-apply $database"
	return 1
}

append sysupgrade_image_check cfgmigrate_check_pending
append sysupgrade_init_conffiles cfgmigrate_conffiles
