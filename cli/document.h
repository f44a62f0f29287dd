// Loading and saving the configuration document.
#pragma once

#include <libxml/tree.h>

// Parses the input file whole, as xmlParseFile does (white-space text nodes
// stay); null when it does not parse.
xmlDoc *load_document(const char *path);

// Unlinks and frees every white-space-only text node below `node`, so the
// saver's indentation replaces the input's. Returns 0.
int strip_blank_nodes(xmlNode *node);

// Strips blank nodes and writes the document, UTF-8 and indented, to the
// run's output path.
void save_document(xmlDoc *document);
