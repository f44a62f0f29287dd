// Writing the saved document so that a crash, a full file system or a
// power cut leaves the output path holding either the old file or the new
// one, whole.
#pragma once

#include <libxml/tree.h>

// Writes the document to `path` with the bytes of
// xmlSaveFormatFileEnc(path, document, "UTF-8", 1). A regular file (or the
// file a symbolic link names) is replaced through a temporary file in its
// own directory, written through the descriptor that created it, keeping
// its mode and, as root, its owner; a new file gets 0666 less the umask.
// Names libxml2 does not open as the local file of that very name ("-",
// names whose %XX escapes it decodes, "file:///", "file://localhost/" and
// "http://" names), devices, FIFOs, compressed documents and paths too long
// for the save's buffers are written directly, and so is any output whose
// directory cannot take a new file.
// Returns 0 when the file was replaced, 1 when the output was written
// directly (whether or not that succeeded), -1 when it was left as it was.
int save_document_safely(const char *path, xmlDoc *document);
