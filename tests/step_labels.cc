// Prints the step table, one "from-label to-label" line per row, for the
// check that the manual page lists the versions the tool knows.
#include <cstdio>

#include "engine/step_table.h"

int main() {
  for (int row = 0; row < step_count; ++row)
    printf("%s %s\n", step_table[row].from_label, step_table[row].to_label);
  return 0;
}
