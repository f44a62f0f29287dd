#include "engine/version.h"

#include <string>

#include <gtest/gtest.h>

namespace {

struct LabelCase {
  const char *label;
  VersionCode code;
  const char *text;
};

// Every label of the step table.
const LabelCase table_labels[] = {
    {"v1.0.16-20170810", 0x01001005, "v1.0.16.5"},
    {"v1.0.17-20170907", 0x01001135, "v1.0.17.53"},
    {"v1.0.17-20170913", 0x01001138, "v1.0.17.56"},
    {"v1.0.17-20170920", 0x0100113C, "v1.0.17.60"},
    {"v1.0.19-20171017", 0x0100136C, "v1.0.19.108"},
    {"v1.0.22-20171129", 0x010016A4, "v1.0.22.164"},
    {"v1.0.24-20171219", 0x010018D1, "v1.0.24.209"},
    {"v1.4.04", 0x01040400, "v1.4.4.0"},
    {"v1.4.05", 0x01040500, "v1.4.5.0"},
    {"v1.4.07", 0x01040700, "v1.4.7.0"},
    {"v1.4.08", 0x01040800, "v1.4.8.0"},
    {"v1.4.09", 0x01040900, "v1.4.9.0"},
};

TEST(VersionTest, TableLabelsParseAndFormat) {
  for (const LabelCase &c : table_labels) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(parse_version(c.label), c.code);
    EXPECT_STREQ(format_version(c.code), c.text);
  }
}

TEST(VersionTest, Quirks) {
  const struct {
    const char *label;
    VersionCode code;
  } cases[] = {
      {"v1.4", 0x01040000},
      {"v1..4", 0x01040000},
      {"v1.4.4", 0x01040400},
      {"1.4.04", 0},
      {"v", 0},
      {"", 0},
      {"v1.0.16-201708100", 0x01001000}, // nine-character date ignored
      {"v1.0.24-20180101", 0x01001A2A},  // build spills into the patch byte
      {"v1.0.16-20170701", 0xFFFFFFCF},  // negative build fills the top
      {"v1.0.16-20170799", 0x01001000},  // -1 / 2 rounds toward zero
      {"v1.0.16-20170798", 0xFFFFFFFF},
      {"v1.4.04.1", 0xFF661FE9},   // any fourth field is a date
      {"v1.4.04.5.6", 0xFF661FEB}, // later fields ignored
      {"v1-4-4", 0x01040400},
      {"vx.y.z", 0},
      {"v256.0.0", 0},                 // major wraps out of the code
      {"v2.256.0", 0x03000000},        // OR-ed, not masked
      {"v-1", 0x01000000},             // '-' is a delimiter, not a sign
      {"v4294967297.0.0", 0x01000000}, // atoi narrows modulo 2^32
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(parse_version(c.label), c.code);
  }
  EXPECT_EQ(parse_version(nullptr), 0u);
}

TEST(VersionTest, WorkTextKeepsOnly63Characters) {
  // 60 zeros then "1.2": the minor field falls past the 63rd character.
  std::string label = "v" + std::string(60, '0') + "1.23";
  EXPECT_EQ(parse_version(label.c_str()), 0x01020000u);
  label = "v" + std::string(62, '0') + "1.2";
  EXPECT_EQ(parse_version(label.c_str()), 0x01000000u);
}

TEST(VersionTest, FormatExtremes) {
  EXPECT_STREQ(format_version(0), "v0.0.0.0");
  EXPECT_STREQ(format_version(0xFFFFFFFF), "v255.255.255.255");
}

TEST(VersionTest, FormatOverwritesTheSharedText) {
  const char *first = format_version(0x01040900);
  const char *second = format_version(0x01001005);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "v1.0.16.5");
}

} // namespace
