#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fs/file_system.h"
#include "fs/inode_kind.h"
#include "terminal/target_inode.h"

namespace sandrig::terminal {
namespace {

struct TargetCase {
  fs::InodeId cwd;
  std::string path;
  std::expected<fs::InodeId, std::string> result;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.cwd << " '" << c.path << "'"; }

// The tree: /docs (1), /docs/a.txt (2), /f (3), /docs/sub (4).
class TargetInodeTest : public testing::TestWithParam<TargetCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(fs_->create_inode(fs::kRootId, "docs", fs::INodeKind::directory()), 1u);
    ASSERT_EQ(fs_->create_inode(1, "a.txt", fs::INodeKind::file()), 2u);
    ASSERT_EQ(fs_->create_inode(fs::kRootId, "f", fs::INodeKind::file()), 3u);
    ASSERT_EQ(fs_->create_inode(1, "sub", fs::INodeKind::directory()), 4u);
  }

  std::shared_ptr<fs::FileSystem> fs_ = std::make_shared<fs::FileSystem>();
};

TEST_P(TargetInodeTest, Resolves) {
  TerminalContext context{GetParam().cwd, fs_};
  EXPECT_EQ(get_target_inode(context, GetParam().path), GetParam().result);
}

std::unexpected<std::string> not_found(std::string name) {
  return std::unexpected(name + ": Inode not found");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TargetInodeTest,
    testing::Values(
        TargetCase{0, "", 0}, TargetCase{0, ".", 0}, TargetCase{0, "..", 0},
        TargetCase{0, "/", 0}, TargetCase{0, "/.", 0}, TargetCase{0, "/..", 0},
        TargetCase{0, "docs", 1}, TargetCase{0, "f", 3}, TargetCase{0, "/docs", 1},
        TargetCase{1, "a.txt", 2}, TargetCase{1, "", 1}, TargetCase{1, ".", 1},
        TargetCase{1, "..", 0}, TargetCase{1, "/", 0}, TargetCase{1, "/docs", 1},
        TargetCase{4, "..", 1}, TargetCase{1, "/f", 3},
        // one name only: separators are not interpreted
        TargetCase{0, "docs/a.txt", not_found("docs/a.txt")},
        TargetCase{1, "/docs/a.txt", not_found("docs/a.txt")},
        TargetCase{0, "docs\\a.txt", not_found("docs\\a.txt")},
        TargetCase{0, "//", not_found("/")}, TargetCase{0, "docs/", not_found("docs/")},
        TargetCase{0, "/x", not_found("x")}, TargetCase{1, "f", not_found("f")},
        TargetCase{0, "DOCS", not_found("DOCS")},
        // a file as the start: only "", "." and ".." are answered without a lookup
        TargetCase{3, "", 3}, TargetCase{3, "..", 0},
        TargetCase{3, "x", std::unexpected("x: The specified INode is not a directory")},
        // a removed or unknown current directory
        TargetCase{99, "x", not_found("x")}, TargetCase{99, "/docs", 1}));

}  // namespace
}  // namespace sandrig::terminal
