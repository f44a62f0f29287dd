// The ordered table of schema changes: what versions each change lies
// between, and the edit that carries a document across it.
#pragma once

// Reverse 0 carries the document forward and returns the to-label;
// otherwise carries it back and returns the from-label.
using StepHandler = const char *(*)(int reverse);

struct MigrationStep {
  const char *from_label;
  const char *to_label;
  StepHandler handler;
  // The paths whose text the handler reads (steps/steps.h), null-ended.
  const char *const *reads;
};

extern const MigrationStep step_table[];
extern const int step_count;

struct NamespaceBinding {
  const char *prefix;
  const char *uri;
};

// The XPath prefixes every step's expressions use; ends with a null prefix.
extern const NamespaceBinding namespace_table[];
