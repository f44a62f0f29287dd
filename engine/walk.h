// The walks over the step table: the migration of the run's document, and
// check mode.
#pragma once

// Walks the step table over the run's document and root, from its source to
// its target version. 0 when the walk ran, whatever the steps did; 3 when
// it could not run: memory ran out before it, or no XPath context could be
// made.
int run_migration();

// 1 when at least one row lies between the source and target versions.
int check_migration();
