#include <gtest/gtest.h>

#include <string>

#include "common/utf8.h"

namespace sandrig {
namespace {

struct StepCase {
  std::string bytes;
  std::size_t length;
  bool valid;
  char32_t code_point;
};

class Utf8Decode : public testing::TestWithParam<StepCase> {};

TEST_P(Utf8Decode, TakesOneSequenceOrItsMaximalIllFormedSubpart) {
  const auto step = decode_utf8_step(GetParam().bytes);
  EXPECT_EQ(step.length, GetParam().length);
  EXPECT_EQ(step.valid, GetParam().valid);
  EXPECT_EQ(step.code_point, GetParam().code_point);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    testing::Values(StepCase{"a", 1, true, 'a'}, StepCase{std::string(1, '\0'), 1, true, 0},
                    StepCase{"\xC3\xA9x", 2, true, 0xE9}, StepCase{"\xE2\x98\x83", 3, true, 0x2603},
                    StepCase{"\xF0\x9F\x98\x80", 4, true, 0x1F600},
                    StepCase{"\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
                    StepCase{"\x80", 1, false, 0},              // lone continuation
                    StepCase{"\xC0\xAF", 1, false, 0},          // overlong two-byte lead
                    StepCase{"\xC1\xBF", 1, false, 0},
                    StepCase{"\xE0\x80\xAF", 1, false, 0},      // overlong three-byte form
                    StepCase{"\xF0\x80\x80\x80", 1, false, 0},  // overlong four-byte form
                    StepCase{"\xED\xA0\x80", 1, false, 0},      // surrogate
                    StepCase{"\xF4\x90\x80\x80", 1, false, 0},  // above U+10FFFF
                    StepCase{"\xF5\x80\x80\x80", 1, false, 0},  // leads F5..FF
                    StepCase{"\xF7\xBF\xBF\xBF", 1, false, 0},
                    StepCase{"\xFF", 1, false, 0},
                    StepCase{"\xE2\x98", 2, false, 0},          // truncated
                    StepCase{"\xF0\x9F\x98x", 3, false, 0},     // cut by a non-continuation
                    StepCase{"\xC3" "a", 1, false, 0}));

TEST(Utf8Valid, AcceptsWellFormedAndRejectsMalformed) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain /tmp/tmp_user_home"));
  EXPECT_TRUE(is_valid_utf8("\xC3\xA9\xE2\x98\xA2\xEF\xB8\x8F\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xFF", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xF8\x88\x80\x80\x80", "a\x80", "\xF5\x80\x80\x80"}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << bad;
  }
}

}  // namespace
}  // namespace sandrig
