#include <gtest/gtest.h>

#include <string>

#include "common/debug_writer.h"

namespace sandrig {
namespace {

struct QuotedCase {
  std::string text;
  std::string rendered;
};

class DebugWriterQuoted : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(DebugWriterQuoted, EscapesWhatCannotBeSeen) {
  DebugWriter out;
  out.quoted(GetParam().text);
  EXPECT_EQ(out.text(), GetParam().rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DebugWriterQuoted,
    ::testing::Values(QuotedCase{"plain name.txt", R"("plain name.txt")"},
                      QuotedCase{"a\"b\\c", R"("a\"b\\c")"},
                      QuotedCase{"\t\r\n", R"("\t\r\n")"},
                      QuotedCase{std::string("a\0b", 3), R"("a\u{0}b")"},
                      QuotedCase{"\x7f", R"("\u{7f}")"},
                      QuotedCase{"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
                      QuotedCase{"nb\xc2\xa0sp", R"("nb\u{a0}sp")"},
                      QuotedCase{"zero\xe2\x80\x8bwidth", R"("zero\u{200b}width")"},
                      QuotedCase{"\xef\xbb\xbf" "bom", R"("\u{feff}bom")"},
                      QuotedCase{"line\xe2\x80\xa8sep", R"("line\u{2028}sep")"},
                      QuotedCase{"\xff", R"("\u{ff}")"},
                      // Ill-formed sequences are escaped byte by byte, never
                      // decoded into the character they would spell.
                      QuotedCase{"\xc0\xaf", R"("\u{c0}\u{af}")"},
                      QuotedCase{"\xe0\x80\xaf", R"("\u{e0}\u{80}\u{af}")"},
                      QuotedCase{"\xf5\x80\x80\x80", R"("\u{f5}\u{80}\u{80}\u{80}")"},
                      QuotedCase{"\xed\xa0\x80", R"("\u{ed}\u{a0}\u{80}")"},
                      QuotedCase{"\xe2\x98", R"("\u{e2}\u{98}")"}));

TEST(DebugWriter, RendersNestedRecords) {
  DebugWriter out;
  out.begin_record("Lock").field("data").begin_map();
  out.item().number(0).key_done().begin_sequence().item().number(1).item().number(2).end_sequence();
  out.end_map().field("poisoned").boolean(false).end_record(true);
  EXPECT_EQ(out.text(), "Lock { data: {0: [1, 2]}, poisoned: false, .. }");
}

}  // namespace
}  // namespace sandrig
