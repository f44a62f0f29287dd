// The edits of the step table, one per schema change, declared from its
// rows. Each takes the reverse flag and returns the label its row's
// constant gives: the to-label forward, the from-label back.
#pragma once

// A row's two labels, as steps/step_table.def writes them.
struct StepRow {
  const char *from_label;
  const char *to_label;
  // The version a document is at once the row's handler has run.
  constexpr const char *reached(int reverse) const { return reverse ? from_label : to_label; }
};

// One-way rows change nothing on the way back: the older schema cannot hold
// what they derive or drop.
enum StepWay { ONE_WAY, BOTH_WAYS };

// Each handler's source also defines handler_reads: the paths whose
// matches' text the handler reads, or compares in a test ("[p:c='text']"),
// ended by a null pointer. Until the walk has run, white space is text
// there (<rest><on>true</on>\n</rest> does not read "true"): the load keeps
// it in the elements those paths end in and those their tests compare.
#define STEP(from, to, handler, way)                                                               \
  const char *handler(int reverse);                                                                \
  extern const char *const handler##_reads[];                                                      \
  inline constexpr StepRow handler##_row = {from, to};
#include "steps/step_table.def"
#undef STEP
