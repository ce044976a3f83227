#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "fs/file_system.h"
#include "fs/tree_rendering.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

// docs/ (img/, notes) and readme, made in an order that differs from the
// rendered one, so the directories-first rule is what puts docs on top.
void fill_sample_tree(const FileSystem& fs) {
  EXPECT_TRUE(fs.touch("/readme"));
  EXPECT_TRUE(fs.mkdir("/docs"));
  EXPECT_TRUE(fs.touch("/docs/notes"));
  EXPECT_TRUE(fs.mkdir("/docs/img"));
}

struct RenderCase {
  std::string_view path;
  std::string_view prefix;
  std::string_view expected;
};

class FsTreeRendering : public testing::TestWithParam<RenderCase> {};

TEST_P(FsTreeRendering, Renders) {
  FileSystem fs;
  fill_sample_tree(fs);
  IoResult<std::string> rendered = render_tree(fs, GetParam().path, GetParam().prefix);
  ASSERT_TRUE(rendered) << rendered.error().debug();
  EXPECT_EQ(*rendered, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FsTreeRendering,
    testing::Values(RenderCase{"/", "", "docs/\n  img/\n  notes\nreadme\n"},
                    RenderCase{"", "", "docs/\n  img/\n  notes\nreadme\n"},
                    RenderCase{"/", "--", "--docs/\n--  img/\n--  notes\n--readme\n"},
                    RenderCase{"docs", "", "img/\nnotes\n"},
                    RenderCase{"/docs/", "> ", "> img/\n> notes\n"},
                    RenderCase{"/docs/img", "", ""}));

TEST(FsTreeRenderingDepth, IndentGrowsTwoSpacesPerLevelAndSiblingsReturnToTheirLevel) {
  FileSystem fs;
  std::string path;
  for (int level = 1; level <= 4; ++level) {
    path += "/d" + std::to_string(level);
    ASSERT_TRUE(fs.mkdir(path));
  }
  ASSERT_TRUE(fs.touch(path + "/leaf"));
  ASSERT_TRUE(fs.touch("/d1/after"));
  EXPECT_EQ(render_tree(fs, "/", ""),
            "d1/\n  d2/\n    d3/\n      d4/\n        leaf\n  after\n");
}

TEST(FsTreeRenderingErrors, MissingPathAndFileFailTheWholeRendering) {
  FileSystem fs;
  fill_sample_tree(fs);
  EXPECT_EQ(render_tree(fs, "missing", ""), fail_with(IoErrorKind::InodeNotFound));
  EXPECT_EQ(render_tree(fs, "/docs/notes", ""), fail_with(IoErrorKind::NotADirectory));
}

}  // namespace
}  // namespace sandrig::fs
