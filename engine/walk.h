// The upgrade, downgrade and check walks over the step table.
#pragma once

// Creates the XPath context on the run's document and walks the step table
// from the source to the target version. 0 when the walk ran, 3 when no
// XPath context could be made.
int run_migration();

// 1 when at least one row lies between the source and target versions.
int check_migration();
