// The walks over the step table: the migration of a document, and check
// mode.
#pragma once

#include <libxml/parser.h>

#include "toolkit/run_state.h"

// xmlParseFile's parser (white-space text nodes stay), with names and blank
// texts shared through the document's dictionary and short texts kept
// inside their nodes: the same tree and output bytes, in about four fifths
// of the memory. Every document the tool reads is parsed with these. From
// 2.14 libxml2 reads a gzip-compressed file only when asked to.
#if LIBXML_VERSION >= 21400
constexpr int document_parse_options = XML_PARSE_COMPACT | XML_PARSE_UNZIP;
#else
constexpr int document_parse_options = XML_PARSE_COMPACT;
#endif

// Takes the loaded document from version `from` to version `to` as the tool
// does before saving it: the step table's walk, then every white-space-only
// text node goes, so the saver's indentation replaces the input's. The
// document and its root become the run's. The walk's status: 0, or 3 when
// it could not run, as when memory has run out.
int migrate_document(xmlDoc *document, VersionCode from, VersionCode to);

// 1 when at least one row lies between the source and target versions.
int check_migration();
