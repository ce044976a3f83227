#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

// Makes the missing directories of /w0/w1/.../w{depth-1}; returns that path.
std::string make_chain(FileSystem& fs, int depth) {
  std::string path;
  for (int level = 0; level < depth; ++level) {
    path += "/w" + std::to_string(level);
    (void)fs.mkdir(path);
  }
  EXPECT_TRUE(fs.is_directory_raw(fs.get_inode_by_path_raw(path).value()).value());
  return path;
}

// A deep path that was walked before must not lead to what it led to once
// that is gone, nor miss what was made in its place.
TEST(FsWalk, RepeatedDeepLookupsFollowRemovalAndRecreation) {
  FileSystem fs;
  const std::string deep = make_chain(fs, 12);
  const std::string file = deep + "/f";
  ASSERT_TRUE(fs.touch(file));
  const InodeId first = fs.get_inode_by_path_raw(file).value();
  EXPECT_EQ(fs.get_inode_by_path_raw(file).value(), first);

  ASSERT_TRUE(fs.rm(file, false));
  EXPECT_EQ(fs.get_inode_by_path_raw(file).error(), IoErrorKind::InodeNotFound);
  ASSERT_TRUE(fs.touch(file));
  const InodeId second = fs.get_inode_by_path_raw(file).value();
  EXPECT_NE(second, first);

  // The whole chain below the third level goes and comes back.
  ASSERT_TRUE(fs.rm("/w0/w1/w2", true));
  EXPECT_EQ(fs.get_inode_by_path_raw(deep).error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.get_inode_by_path_raw(file).error(), IoErrorKind::InodeNotFound);
  make_chain(fs, 12);  // the first three levels exist already
  ASSERT_TRUE(fs.touch(file));
  EXPECT_EQ(fs.get_path_by_inode(fs.get_inode_by_path_raw(file).value()).value(), file);
}

TEST(FsWalk, SpellingsOfOneDeepPathAgree) {
  FileSystem fs;
  const std::string deep = make_chain(fs, 8);
  ASSERT_TRUE(fs.touch(deep + "/f"));
  const InodeId id = fs.get_inode_by_path_raw(deep + "/f").value();
  for (const std::string& spelling : std::vector<std::string>{deep + "//f", deep + "/./f", deep + "/f/", "w0\\w1\\w2\\w3\\w4\\w5\\w6\\w7\\f",
        deep + "/../w7/f", deep + "/f/."}) {
    EXPECT_EQ(fs.get_inode_by_path_raw(spelling).value(), id) << spelling;
  }
  EXPECT_EQ(fs.get_inode_by_path_raw(deep + "/f/..").value(),
            fs.get_inode_by_path_raw(deep).value());
  EXPECT_EQ(fs.get_inode_by_path_raw(deep + "/f/x").error(), IoErrorKind::NotADirectory);
  EXPECT_EQ(fs.get_inode_by_path_raw(deep + "/g/x").error(), IoErrorKind::InodeNotFound);
}

// Walkers stand on directories that another thread keeps removing and
// making again; under the sanitizers a walk that outlived its node shows.
TEST(FsWalk, WalksRaceWithRemovalOfTheDirectoriesTheyCross) {
  auto fs = std::make_shared<FileSystem>();
  const std::string deep = make_chain(*fs, 10);
  const std::string file = deep + "/f";
  ASSERT_TRUE(fs->touch(file));
  std::atomic<bool> stop{false};
  std::atomic<int> found{0}, missed{0};
  std::vector<std::thread> walkers;
  for (int i = 0; i < 3; ++i) {
    walkers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        IoResult<InodeId> id = fs->get_inode_by_path_raw(file);
        if (!id) {
          EXPECT_EQ(id.error(), IoErrorKind::InodeNotFound);
          ++missed;
          continue;
        }
        ++found;
        // Found means it was there: its path is the one walked, or it
        // has gone since.
        IoResult<std::string> back = fs->get_path_by_inode(*id);
        if (back) {
          EXPECT_EQ(*back, file);
        }
        const FileHandleType read = FileHandleType::from_str("r").value();
        if (IoResult<FileHandle> handle = FileSystem::open(fs, file, read, false)) {
          EXPECT_TRUE(handle->close());
        }
      }
    });
  }
  // Until both outcomes were seen over a few hundred rounds; the bound
  // only keeps a starved run from going on for ever.
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; round < 300 || found == 0 || missed == 0; ++round) {
    if (std::chrono::steady_clock::now() > bound) break;
    (void)fs->rm("/w0/w1/w2/w3", true);
    make_chain(*fs, 10);
    (void)fs->touch(file);
  }
  stop = true;
  for (std::thread& walker : walkers) walker.join();
  EXPECT_GT(found, 0);
  EXPECT_GT(missed, 0);
}

}  // namespace
}  // namespace sandrig::fs
