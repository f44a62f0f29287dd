// Writing the saved document so that a crash, a full file system or a
// power cut leaves the output path holding either the old file or the new
// one, whole.
#pragma once

#include <libxml/tree.h>

// The calls of the replacing save that can fail on a real system; tests
// swap one for a failing stand-in. `write_document` writes the document to
// a path exactly as the tool's saver does (UTF-8, indented).
struct SaveCalls {
  int (*make_temp)(char *name_template);
  int (*write_document)(const char *path, xmlDoc *document);
  int (*sync)(int fd);
  int (*rename)(const char *from, const char *to);
};
extern SaveCalls save_calls;

// xmlSaveFormatFileEnc(path, document, "UTF-8", 1).
int write_document_direct(const char *path, xmlDoc *document);

// Writes the document to `path` with the bytes write_document_direct gives.
// A regular file (or the file a symbolic link names) is replaced through a
// temporary file in its own directory, keeping its mode and, as root, its
// owner; a new file gets 0666 less the umask. "-", devices, FIFOs and
// paths libxml2 would treat as URIs are written directly, and so is any
// output whose directory cannot take a new file. Returns 0 on success.
int save_document_safely(const char *path, xmlDoc *document);

// True for the name of a temporary file of a save to a file named `base`:
// ".<base>.cfgmigrate-" and six letters or digits.
bool is_temp_name_for(const char *name, const char *base);
