// The walks over the step table: the migration of the run's document, and
// check mode.
#pragma once

#include <libxml/xmlstring.h>

// Walks the step table over the run's document and root, from its source to
// its target version. 0 when the walk ran, whatever the steps did; 3 when
// it could not run: memory ran out before it, or no XPath context could be
// made.
int run_migration();

// 1 when at least one row lies between the source and target versions.
int check_migration();

// Calls `note` for each element whose text a row's handler reads
// (steps/steps.h), by namespace URI and local name. False when a path has
// a form the child-path walk does not take, or no XPath context could be
// made: which elements are read is then not known.
bool note_read_elements(void (*note)(const xmlChar *uri, const char *local, void *data),
                        void *data);
