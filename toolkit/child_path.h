// A tree walk for the plain child paths that nearly every step query is.
//
// libxml2 compiles an expression on every evaluation and builds a node set
// at every step; a step that queries each of thousands of entries (SSIDs,
// interfaces) pays that each time. Walking the children gives libxml2's own
// result for these paths: the same nodes, in document order.
#pragma once

#include <libxml/xpath.h>

// The node set `expression` selects with `node` as context node, for paths
// of the form "./p:a/p:b" (the "./" may be absent) whose steps may carry
// one test "[p:c='text']" against a child's text, in a node set the caller
// frees with xmlXPathFreeObject. Null when the expression has another form,
// names a prefix `context` does not know, `node` is no element of the
// context's document, or a tested child holds more than one plain text:
// libxml2 then evaluates it and reports any error itself.
xmlXPathObject *eval_child_path(xmlNode *node, const char *expression, xmlXPathContext *context);

// The same walk, stopped at the first match: true with `*first` that match
// (null when there is none), false where eval_child_path gives null.
bool first_child_path(xmlNode *node, const char *expression, xmlXPathContext *context,
                      xmlNode **first);

// For a path of that form whose matches' text is read: calls `note` with the
// namespace URI and local name of the element it ends in and of each one
// its tests compare. False, noting nothing, for a path of another form or
// a prefix `context` does not know.
bool child_path_read_names(const char *expression, xmlXPathContext *context,
                           void (*note)(const xmlChar *uri, const char *local, void *data),
                           void *data);

// Drops what was kept of the paths walked: called as their context goes.
void forget_child_paths();
