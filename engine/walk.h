// The upgrade, downgrade and check walks over the step table.
#pragma once

#include <libxml/xpath.h>

#include "engine/step_table.h"

// Creates the XPath context on the run's document and walks the step table
// from the source to the target version. 0 when the walk ran, 3 when no
// XPath context could be made.
int run_migration();

// 1 when at least one row lies between the source and target versions.
int check_migration();

void register_namespaces(xmlXPathContext *context);

// The walks over any table, so that tests can drive them with their own rows.
void upgrade_walk(const MigrationStep *rows, int count);
void downgrade_walk(const MigrationStep *rows, int count);
int check_walk(const MigrationStep *rows, int count);
