// Writing the saved document so that a crash, a full file system or a
// power cut leaves the output path holding either the old file or the new
// one, whole.
#pragma once

#include <libxml/tree.h>

// What save_document_safely returns when the file was left as it was
// because the temporary file did not take the whole document.
constexpr int save_fell_short = -2;

// Writes the document to `path` with the bytes of
// xmlSaveFormatFileEnc(path, document, "UTF-8", 1). The regular file
// libxml2 would write (the file a symbolic link names; for a name whose %XX
// escapes libxml2 decodes, the existing file of the decoded name) is
// replaced through a temporary file in its own directory, which must take
// every byte before it is renamed, keeping the file's mode and, as root, its
// owner; a new file gets 0666 less the umask. A compressed document is
// compressed into the temporary file by libxml2, which opens it by name.
// Names libxml2 does not open as a local file of a name it can tell ("-",
// "file:///", "file://localhost/" and "http://" names), new files of names
// with decoded escapes, devices, FIFOs, compressed documents whose temporary
// file's name libxml2 would decode, and paths too long for the save's
// buffers are written directly, and so is any output whose directory cannot
// take a new file.
// Returns 0 when the file was replaced, 1 when the output was written
// directly (whether or not that succeeded), -1 or save_fell_short when it
// was left as it was.
int save_document_safely(const char *path, xmlDoc *document);
