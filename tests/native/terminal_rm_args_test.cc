#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/rm_args.h"

namespace sandrig::terminal {
namespace {

using Words = std::vector<std::string>;

struct ParsedCase {
  Words words;
  bool recursive;
  std::string target;
};

class RmArgsParsedTest : public testing::TestWithParam<ParsedCase> {};

TEST_P(RmArgsParsedTest, Parses) {
  auto args = RmArgs::parse(GetParam().words);
  ASSERT_TRUE(args.has_value()) << args.error();
  EXPECT_EQ(args->recursive, GetParam().recursive);
  EXPECT_EQ(args->target, GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Words, RmArgsParsedTest,
    testing::Values(ParsedCase{{"a"}, false, "a"}, ParsedCase{{"-r", "a"}, true, "a"},
                    ParsedCase{{"a", "-r"}, true, "a"},
                    ParsedCase{{"a", "--recursive"}, true, "a"},
                    ParsedCase{{"--", "-r"}, false, "-r"},
                    ParsedCase{{"-r", "--", "--help"}, true, "--help"},
                    ParsedCase{{"--", "--"}, false, "--"}, ParsedCase{{"-"}, false, "-"},
                    ParsedCase{{""}, false, ""}, ParsedCase{{"/"}, false, "/"}));

const std::string kUsageTail =
    "\n\nUsage: sandrig [OPTIONS] <TARGET>\n\nFor more information, try '--help'.\n";

const std::string kHelp =
    "Remove a file or a directory (potentially recursive)\n"
    "\n"
    "Usage: sandrig [OPTIONS] <TARGET>\n"
    "\n"
    "Arguments:\n"
    "  <TARGET>\n"
    "\n"
    "Options:\n"
    "  -r, --recursive\n"
    "  -h, --help       Print help\n"
    "  -V, --version    Print version\n";

struct RefusedCase {
  Words words;
  std::string text;
};

class RmArgsRefusedTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RmArgsRefusedTest, GivesTheText) {
  auto args = RmArgs::parse(GetParam().words);
  ASSERT_FALSE(args.has_value());
  EXPECT_EQ(args.error(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, RmArgsRefusedTest,
    testing::Values(
        RefusedCase{{"--help"}, kHelp}, RefusedCase{{"-h"}, kHelp},
        RefusedCase{{"a", "-h"}, kHelp}, RefusedCase{{"-rh"}, kHelp},
        RefusedCase{{"--version"}, "sandrig 0.1.3\n"},
        RefusedCase{{"-V", "a"}, "sandrig 0.1.3\n"},
        RefusedCase{{}, "error: the following required arguments were not provided:\n  <TARGET>" +
                            kUsageTail},
        RefusedCase{{"-r"}, "error: the following required arguments were not provided:\n  <TARGET>" +
                                kUsageTail},
        RefusedCase{{"-x", "a"}, "error: unexpected argument '-x' found" + kUsageTail},
        RefusedCase{{"a", "-x"}, "error: unexpected argument '-x' found" + kUsageTail},
        RefusedCase{{"-rx", "a"}, "error: unexpected argument '-x' found" + kUsageTail},
        RefusedCase{{"-é"}, "error: unexpected argument '-é' found" + kUsageTail},
        RefusedCase{{"--force", "a"}, "error: unexpected argument '--force' found" + kUsageTail},
        RefusedCase{{"a", "b"}, "error: unexpected argument 'b' found" + kUsageTail},
        RefusedCase{{"-x", "-h"}, "error: unexpected argument '-x' found" + kUsageTail},
        RefusedCase{{"-r", "a", "-r"},
                    "error: the argument '--recursive' cannot be used multiple times" + kUsageTail},
        RefusedCase{{"-rr", "a"},
                    "error: the argument '--recursive' cannot be used multiple times" + kUsageTail},
        RefusedCase{{"--recursive=yes", "a"},
                    "error: unexpected value 'yes' for '--recursive' found; no more were expected" +
                        kUsageTail}));

}  // namespace
}  // namespace sandrig::terminal
