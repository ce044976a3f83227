#include <gtest/gtest.h>

#include "fs/file_system.h"
#include "fs/inode_id.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

TEST(FsCreateEntry, FileAndDirectoryMakeTheirKindUnderTheParent) {
  FileSystem fs;
  IoResult<InodeId> dir = fs.create_directory(kRootId, "d");
  ASSERT_TRUE(dir);
  IoResult<InodeId> file = fs.create_file(*dir, "f");
  ASSERT_TRUE(file);
  EXPECT_EQ(fs.is_directory_raw(*dir), true);
  EXPECT_EQ(fs.is_file_raw(*file), true);
  EXPECT_EQ(fs.get_path_by_inode(*file), "/d/f");
}

TEST(FsCreateEntry, FailuresAreThoseOfCreateInode) {
  FileSystem fs;
  ASSERT_TRUE(fs.create_file(kRootId, "f"));
  EXPECT_EQ(fs.create_directory(kRootId, "f"), fail_with(IoErrorKind::ResourceAlreadyExists));
  EXPECT_EQ(fs.create_file(kRootId, ".."), fail_with(IoErrorKind::ResourceAlreadyExists));
  IoResult<InodeId> file = fs.get_inode_by_path_raw("/f");
  ASSERT_TRUE(file);
  EXPECT_EQ(fs.create_file(*file, "x"), fail_with(IoErrorKind::NotADirectory));
}

}  // namespace
}  // namespace sandrig::fs
