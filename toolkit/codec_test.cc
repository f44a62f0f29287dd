#include "toolkit/codec.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/codec_support.h"

namespace {

// A fresh folder under the unit tests' scratch folder, removed with its files.
class TempFolder {
public:
  TempFolder() {
    mkdir(SCRATCH_ROOT, 0755);
    std::string pattern = std::string(SCRATCH_ROOT) + "/codec-XXXXXX";
    if (mkdtemp(pattern.data()))
      path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  bool ok() const { return !path_.empty(); }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

TEST(HexDigitValueTest, EachClassOfCharacter) {
  const struct {
    unsigned char character;
    int value;
  } cases[] = {
      {'0', 0},  {'1', 1},  {'9', 9},  {'A', 10}, {'F', 15}, {'a', 10},     {'f', 15},
      {'/', 0},  {':', 0},  {'@', 0},  {'G', 0},  {'`', 0},  {'g', 0},      {' ', 0},
      {'\n', 0}, {'\0', 0}, {128, 0},  {0xC1, 0}, {0xC6, 0}, {0xE1, 0},     {0xE6, 0},
      {0xB0, 0}, {0xB9, 0}, {0xFF, 0}, {'x', 0},  {'Z', 0},  {'0' + 64, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.character));
    EXPECT_EQ(hex_digit_value(c.character), c.value);
  }
}

TEST(HexDigitValueTest, OnlyHexDigitsOfEitherCaseHaveAValue) {
  const char digits[] = "0123456789abcdef";
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    int lower = byte >= 'A' && byte <= 'Z' ? byte + 32 : byte;
    const char *found = lower ? strchr(digits, lower) : nullptr;
    int expected = found ? static_cast<int>(found - digits) : 0;
    EXPECT_EQ(hex_digit_value(static_cast<unsigned char>(byte)), expected);
  }
}

class Base64EncodeFileTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(folder.ok()); }

  // Encodes `bytes` from a file into a buffer larger than `limit`, filled
  // with '#' so that a store past the text and its NUL shows.
  int32_t encode(const std::string &bytes, int32_t limit) {
    std::string path = folder.file("input.bin");
    EXPECT_TRUE(write_file(path, bytes));
    buffer.assign(static_cast<size_t>(limit) + 16, '#');
    return base64_encode_file(path.c_str(), buffer.data(), limit);
  }

  // The text up to the NUL, after checking that nothing follows it.
  std::string text(int32_t count) {
    EXPECT_EQ(buffer[count], '\0');
    for (size_t i = static_cast<size_t>(count) + 1; i < buffer.size(); ++i)
      if (buffer[i] != '#') {
        ADD_FAILURE() << "byte " << i << " written past the NUL";
        break;
      }
    return std::string(buffer.data(), static_cast<size_t>(count));
  }

  TempFolder folder;
  std::string buffer;
};

TEST_F(Base64EncodeFileTest, StandardVectorsPadByLengthModThree) {
  const struct {
    std::string bytes;
    const char *text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0\0\0", 3), "AAAA"},
      {"\xFB\xFF", "+/8="},
      {"\xFF\xD8\xFF", "/9j/"},
      {"\xFF\xFF\xFF\xFF", "/////w=="},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    int32_t count = encode(c.bytes, 64);
    EXPECT_EQ(count, static_cast<int32_t>(strlen(c.text)));
    EXPECT_EQ(text(count), c.text);
  }
}

TEST_F(Base64EncodeFileTest, EveryByteValueMatchesReference) {
  std::string bytes = patterned_bytes(3 * 256 + 2);
  int32_t count = encode(bytes, 4096);
  EXPECT_EQ(text(count), reference_base64(bytes));
}

// The last group is completed only when a byte stays spare beyond the NUL.
TEST_F(Base64EncodeFileTest, RoomTestsOfTheLastGroup) {
  const struct {
    size_t size;
    int32_t limit;
    int32_t count;
  } cases[] = {
      {1, 6, 4},  {1, 5, 1}, // one byte left over: n + 4 < limit with n = 1
      {4, 10, 8}, {4, 9, 5}, // n = 5
      {2, 6, 4},  {2, 5, 2}, // two bytes left over: n + 3 < limit with n = 2
      {5, 10, 8}, {5, 9, 6}, // n = 6
      {3, 5, 4},  {6, 9, 8}, // no group to complete: the text ends at limit - 1
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, limit " << c.limit);
    std::string bytes = patterned_bytes(c.size);
    int32_t count = encode(bytes, c.limit);
    ASSERT_EQ(count, c.count);
    EXPECT_EQ(text(count), reference_base64(bytes).substr(0, static_cast<size_t>(count)));
  }
}

// Text that would reach the limit before the last group is cut so that it
// and its NUL fill the buffer exactly.
TEST_F(Base64EncodeFileTest, TextReachingLimitStaysWithinBuffer) {
  const struct {
    size_t size;
    int32_t limit;
  } cases[] = {
      {3, 4},             // "Zm9v"-sized text: the group's last character has no room
      {3, 3},             // cut between the characters of a byte
      {12, 10},           // many bytes past the limit
      {8, 10},            // 4 * 2 + 2 = 10 characters: the smallest file that reaches it
      {100, 2}, {100, 1}, // room for the NUL only
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, limit " << c.limit);
    std::string bytes = patterned_bytes(c.size);
    int32_t count = encode(bytes, c.limit);
    ASSERT_EQ(count, c.limit - 1);
    EXPECT_EQ(text(count), reference_base64(bytes).substr(0, static_cast<size_t>(count)));
  }
}

TEST_F(Base64EncodeFileTest, ZeroLimitWritesNothing) {
  int32_t count = encode("abc", 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer, std::string(16, '#'));
}

// The image step's buffer: whole up to 767,997 bytes, the completion lost
// for 767,998 and 767,999, cut at the buffer's end from 768,000 on.
TEST_F(Base64EncodeFileTest, StepBufferBoundaries) {
  const int32_t limit = 1024000;
  const struct {
    size_t size;
    int32_t count;
  } cases[] = {
      {767996, 1023996}, {767997, 1023996}, {767998, 1023997},
      {767999, 1023998}, {768000, 1023999}, {800000, 1023999},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    std::string bytes = patterned_bytes(c.size);
    int32_t count = encode(bytes, limit);
    ASSERT_EQ(count, c.count);
    EXPECT_EQ(text(count), reference_base64(bytes).substr(0, static_cast<size_t>(count)));
  }
}

TEST_F(Base64EncodeFileTest, MissingFileSaysSoOnStdoutAndLeavesBufferAlone) {
  std::string path = folder.file("absent.jpg");
  char out[8];
  memset(out, '#', sizeof out);
  StdoutCapture capture(folder.file("stdout.txt"));
  int32_t count = base64_encode_file(path.c_str(), out, sizeof out);
  EXPECT_EQ(capture.text(), "Can't open " + path + " for reading!\n");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
}

// A directory opens but cannot be read: the read error ends the input.
TEST_F(Base64EncodeFileTest, ReadErrorEndsTheInput) {
  std::string path = folder.file("folder");
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  char out[8];
  memset(out, '#', sizeof out);
  StdoutCapture capture(folder.file("stdout.txt"));
  int32_t count = base64_encode_file(path.c_str(), out, sizeof out);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], '#');
}

} // namespace
