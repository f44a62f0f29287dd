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

#define STEP(from, to, handler, way)                                                               \
  const char *handler(int reverse);                                                                \
  inline constexpr StepRow handler##_row = {from, to};
#include "steps/step_table.def"
#undef STEP
