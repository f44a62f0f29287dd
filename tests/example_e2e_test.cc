// `make demo` shows the bundled example; the golden case of its whole road
// is what proves the demo's result right, so the two must stay one file.
#include "tests/e2e_util.h"

namespace {

TEST(Example, IsTheInputOfItsGoldenCase) {
  EXPECT_EQ(read_file(EXAMPLES_DIR "/config-v1.0.16.xml"),
            read_file(GOLDEN_CASES_DIR "/example-full-road/input.xml"));
}

} // namespace
