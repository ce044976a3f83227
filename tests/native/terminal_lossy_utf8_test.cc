#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/lossy_utf8.h"

namespace sandrig::terminal {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct DecodeCase {
  std::string bytes;
  std::string text;
};

class LossyUtf8Test : public testing::TestWithParam<DecodeCase> {};

TEST_P(LossyUtf8Test, Decodes) {
  const std::string& in = GetParam().bytes;
  std::vector<std::uint8_t> bytes(in.begin(), in.end());
  EXPECT_EQ(decode_utf8_lossy(bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, LossyUtf8Test,
    testing::Values(
        DecodeCase{"", ""}, DecodeCase{"hi\n", "hi\n"}, DecodeCase{std::string(1, '\0'), std::string(1, '\0')},
        DecodeCase{"é☃😀", "é☃😀"}, DecodeCase{"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        DecodeCase{"a\xFF" "b", "a" + R + "b"},
        DecodeCase{"\x80\xBF", R + R},           // lone continuation bytes
        DecodeCase{"\xC0\xAF", R + R},           // overlong lead
        DecodeCase{"\xE0\x80\xAF", R + R + R},   // overlong three-byte form
        DecodeCase{"\xED\xA0\x80", R + R + R},   // surrogate
        DecodeCase{"\xF4\x90\x80\x80", R + R + R + R},  // above U+10FFFF
        DecodeCase{"\xE2\x98", R},               // truncated at the end
        DecodeCase{"\xE2\x98x", R + "x"},        // truncated in the middle
        DecodeCase{"\xF0\x9F\x98", R},           // maximal subpart of three bytes
        DecodeCase{"\xF0\x9F\x98\xE2\x98\x83", R + "☃"},
        DecodeCase{"\xF5\x80", R + R}));

}  // namespace
}  // namespace sandrig::terminal
