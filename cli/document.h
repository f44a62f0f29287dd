// Loading and saving the run's configuration document.
#pragma once

// Parses the run's input file whole into run.document and run.root; both
// stay null when it does not parse.
void load_document();

// Removes every white-space-only text node below the run's root, so the
// saver's indentation replaces the input's, then writes the document,
// UTF-8 and indented, to the run's output path. Once memory has run out,
// nothing is written over it. False when the output was left as it was.
bool save_document();
