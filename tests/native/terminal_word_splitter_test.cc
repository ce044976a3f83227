#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "terminal/word_splitter.h"

namespace sandrig::terminal {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
  std::string line;
  Words words;
};

class SplitWordsTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitWordsTest, SplitsIntoWords) {
  auto words = split_words(GetParam().line);
  ASSERT_TRUE(words.has_value()) << GetParam().line;
  EXPECT_EQ(*words, GetParam().words) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitWordsTest,
    testing::Values(
        // blanks
        SplitCase{"", {}}, SplitCase{"   ", {}}, SplitCase{" \t\n ", {}},
        SplitCase{"ls", {"ls"}}, SplitCase{"echo a   b", {"echo", "a", "b"}},
        SplitCase{"a\tb\nc", {"a", "b", "c"}},
        SplitCase{"a\rb", {"a\rb"}},  // carriage return is no blank
        // comments
        SplitCase{"# note", {}}, SplitCase{"ls # note", {"ls"}},
        SplitCase{"a#b", {"a#b"}}, SplitCase{"# one\nls", {"ls"}},
        SplitCase{"a #x\nb", {"a", "b"}}, SplitCase{"'#' x", {"#", "x"}},
        // single quotes
        SplitCase{"echo 'a b'", {"echo", "a b"}},
        SplitCase{R"('a\"b\')", {R"(a\"b\)"}},
        SplitCase{"''", {""}}, SplitCase{"echo '' x", {"echo", "", "x"}},
        // double quotes
        SplitCase{R"("a b")", {"a b"}}, SplitCase{R"("")", {""}},
        SplitCase{R"("\$\`\"\\")", {R"($`"\)"}},
        SplitCase{R"("\a\n")", {R"(\a\n)"}},
        SplitCase{"\"a\\\nb\"", {"ab"}},
        SplitCase{R"("it's")", {"it's"}},
        // backslashes outside quotes
        SplitCase{R"(a\ b)", {"a b"}}, SplitCase{R"(\'\"\\\#)", {R"('"\#)"}},
        SplitCase{"a\\\nb", {"ab"}}, SplitCase{R"(\#x)", {"#x"}},
        // a continuation between words starts no word
        SplitCase{"cd \\\n", {"cd"}}, SplitCase{"a \\\n#c", {"a"}},
        // joined sections
        SplitCase{R"(a"b c"d)", {"ab cd"}}, SplitCase{R"('a'"b"c)", {"abc"}},
        SplitCase{R"(echo 'a b' "c\"d" e\ f)", {"echo", "a b", "c\"d", "e f"}},
        // UTF-8 passes through
        SplitCase{"echo héllo 'wörld ☃'", {"echo", "héllo", "wörld ☃"}},
        SplitCase{"\\é \"\\☃\"", {"é", "\\☃"}}));

class SplitErrorTest : public testing::TestWithParam<std::string> {};

TEST_P(SplitErrorTest, RefusesTheLine) {
  EXPECT_EQ(split_words(GetParam()), std::nullopt) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Lines, SplitErrorTest,
                         testing::Values("echo \"x", "echo 'x", "echo x\\", "\\",
                                         "\"a\\", "\"a\\\"", "a 'b\" c", "ok \"", "''\""));

}  // namespace
}  // namespace sandrig::terminal
