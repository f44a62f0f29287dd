// The one record of a run, shared by every part of the tool.
#pragma once

#include <cstdint>
#include <libxml/tree.h>
#include <libxml/xpath.h>

using VersionCode = uint32_t;

struct RunState {
  int debug_level;
  char version_text[32];
  const char *input_path;
  VersionCode target_version;
  char text_buffer[1024];
  xmlNode *root;
  xmlXPathContext *xpath_context;
  xmlDoc *document;
  const char *output_path;
  VersionCode source_version;
  // An allocation failed: the tree, or a file being written, may lack
  // anything, so nothing is saved (toolkit/memory.h).
  bool out_of_memory;
  // Text that is empty or white space alone may be in the tree: kept by the
  // parse, or added (note_added_text). Without it the save has no blank
  // text to strip.
  bool may_hold_blank_text;
};

// Zero-initialised at start; there is exactly one per process.
extern RunState run;
