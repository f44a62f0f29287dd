// Loading and saving the configuration document.
#pragma once

#include <libxml/tree.h>

// Parses the input file whole; null when it does not parse.
xmlDoc *load_document(const char *path);

// Writes the document, UTF-8 and indented, to the run's output path; once
// memory has run out, nothing is written over it. False when the output was
// left as it was.
bool save_document(xmlDoc *document);
