// Loading and saving the run's configuration document.
#pragma once

#include <libxml/tree.h>

// Parses the run's input file whole into run.document and run.root; both
// stay null when it does not parse.
void load_document();

// Removes every text or CDATA node below `root` that holds white space
// alone (xmlIsBlankNode), so the saver's indentation replaces the input's.
void strip_blank_nodes(xmlNode *root);

// Strips the run's document, then writes it, UTF-8 and indented, to the
// run's output path. Once memory has run out, nothing is written over it.
// False when the output was left as it was.
bool save_document();
