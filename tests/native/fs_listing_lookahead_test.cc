// Listing directories in turn, while each walk fetches the listings of the
// siblings after it: results, a poisoned or held sibling, concurrent changes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/internal_failure.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

// The listing of `path` through the walk that fetches ahead, as ls_raw
// gives it: the files, then the directories.
IoResult<Listing> listed_at(const FileSystem& fs, std::string_view path) {
  PackedListing packed;
  InodeId id = 0;
  const auto unseen = [](InodeId) { return std::optional<std::uint64_t>(); };
  SANDRIG_TRY(fs.ls_packed_at(path, unseen, id, packed));
  Listing listing;
  for (auto [names, out] : {std::pair{&packed.files, &listing.files},
                            std::pair{&packed.directories, &listing.directories}}) {
    std::size_t start = 0;
    for (std::size_t at = names->text.find('/'); at != std::string::npos;
         at = names->text.find('/', start)) {
      out->push_back(names->text.substr(start, at - start));
      start = at + 1;
    }
  }
  return listing;
}

void expect_same(const IoResult<Listing>& got, const IoResult<Listing>& want, std::string_view path) {
  ASSERT_EQ(got.has_value(), want.has_value()) << path;
  if (!got) return;
  EXPECT_EQ(got->files, want->files) << path;
  EXPECT_EQ(got->directories, want->directories) << path;
}

// The entries of /p, of every kind, with holes once /p is indexed; every
// one listed in turn agrees with ls_raw, up to the last sibling.
class FsListingLookahead : public ::testing::TestWithParam<int> {};

TEST_P(FsListingLookahead, SiblingsListedInTurnAgreeWithLsRaw) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/p"));
  const InodeId p = fs.get_inode_by_path_raw("/p").value();
  std::vector<std::string> names;
  for (int i = 0; i < GetParam(); ++i) {
    const std::string name = "e" + std::to_string(i);
    const std::string path = "/p/" + name;
    if (i % 5 == 4) {
      ASSERT_TRUE(fs.touch(path));
    } else if (i % 7 == 6 && i > 0) {
      const InodeId target = fs.get_inode_by_path_raw("/p/" + names.front()).value();
      ASSERT_TRUE(fs.create_inode(p, name, INodeKind::symlink(target)));
    } else {
      ASSERT_TRUE(fs.mkdir(path));
      for (int f = 0; f < i % 40; ++f) ASSERT_TRUE(fs.touch(path + "/f" + std::to_string(f)));
    }
    names.push_back(name);
  }
  for (std::size_t i = 3; i < names.size(); i += 9) {
    if (i % 7 != 6) ASSERT_TRUE(fs.rm("/p/" + names[i], true)) << names[i];  // not a link
  }
  for (int round = 0; round < 2; ++round) {
    for (const std::string& name : names) {
      const std::string path = "/p/" + name;
      const IoResult<InodeId> id = fs.get_inode_by_path_raw(path);
      if (!id) {
        EXPECT_EQ(listed_at(fs, path).error(), id.error()) << path;
        continue;
      }
      expect_same(listed_at(fs, path), fs.ls_raw(*id), path);
    }
  }
}

// Inline entries, an entry array without index, and an indexed one.
INSTANTIATE_TEST_SUITE_P(SmallToIndexed, FsListingLookahead,
                         ::testing::Values(5, 20, int{Directory::kIndexThreshold} + 30));

// Each sibling 1, 2 or 3 places after the listed one is poisoned in turn:
// only listing it fails.
class FsListingLookaheadPoisoned : public ::testing::TestWithParam<int> {};

TEST_P(FsListingLookaheadPoisoned, APoisonedSiblingFailsOnlyItsOwnListing) {
  FileSystem fs;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(fs.mkdir("/d" + std::to_string(i)));
  const std::string poisoned = "/d" + std::to_string(GetParam());
  const InodeId id = fs.get_inode_by_path_raw(poisoned).value();
  EXPECT_THROW(fs.for_each_inode([&](const INode& node) {
    if (node.id() != id) return;
    const WriteGuard<INodeKind> held = node.write();
    throw std::runtime_error("interrupted change");
  }),
               std::runtime_error);
  EXPECT_TRUE(listed_at(fs, "/d0"));
  EXPECT_THROW((void)listed_at(fs, poisoned), InternalFailure);
  EXPECT_TRUE(listed_at(fs, "/d4"));
}

INSTANTIATE_TEST_SUITE_P(OneToThreeAhead, FsListingLookaheadPoisoned, ::testing::Values(1, 2, 3));

// A listing never waits for a writer of a sibling it fetches ahead for.
TEST(FsListingLookaheadHeld, ASiblingHeldByAWriterIsSkipped) {
  FileSystem fs;
  for (const char* path : {"/a", "/b", "/c"}) ASSERT_TRUE(fs.mkdir(path));
  ASSERT_TRUE(fs.touch("/b/x"));
  const InodeId b = fs.get_inode_by_path_raw("/b").value();
  std::atomic<bool> holding{false};
  std::atomic<bool> listed{false};
  std::atomic<bool> listed_while_held{false};
  std::thread writer([&] {
    fs.for_each_inode([&](const INode& node) {
      if (node.id() != b) return;
      const WriteGuard<INodeKind> held = node.write();
      holding = true;
      // The bound only keeps a listing that waits from hanging the test.
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!listed && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
      listed_while_held = listed.load();
    });
  });
  while (!holding) std::this_thread::yield();
  const IoResult<Listing> listing = listed_at(fs, "/a");
  listed = true;
  writer.join();
  EXPECT_TRUE(listed_while_held);
  ASSERT_TRUE(listing);
  EXPECT_TRUE(listing->files.empty() && listing->directories.empty());
  EXPECT_EQ(listed_at(fs, "/b")->files, std::vector<std::string>{"x"});
}

// Listers walk the siblings in turn while a writer grows and shrinks their
// entries and removes and recreates siblings: every listing is whole.
TEST(FsListingLookaheadRace, ListingsInTurnWhileSiblingsChange) {
  FileSystem fs;
  constexpr int kSiblings = 40;
  ASSERT_TRUE(fs.mkdir("/p"));
  for (int i = 0; i < kSiblings; ++i) ASSERT_TRUE(fs.mkdir("/p/d" + std::to_string(i)));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int round = 0; round < 3000; ++round) {
      const std::string dir = "/p/d" + std::to_string(round % kSiblings);
      if (round % 97 == 0) {
        (void)fs.rm(dir, true);
        (void)fs.mkdir(dir);
      }
      const std::string file = dir + "/f" + std::to_string(round % 50);
      (void)(round % 200 < 120 ? fs.touch(file) : fs.rm(file, false));
    }
    stop = true;
  });
  std::vector<std::thread> listers;
  for (int lister = 0; lister < 2; ++lister) {
    listers.emplace_back([&] {
      while (!stop) {
        for (int i = 0; i < kSiblings; ++i) {
          const IoResult<Listing> listing = listed_at(fs, "/p/d" + std::to_string(i));
          if (!listing) continue;  // removed meanwhile
          EXPECT_TRUE(listing->directories.empty());
          for (const std::string& name : listing->files) EXPECT_EQ(name[0], 'f');
        }
      }
    });
  }
  writer.join();
  for (std::thread& lister : listers) lister.join();
  for (int i = 0; i < kSiblings; ++i) {
    const std::string dir = "/p/d" + std::to_string(i);
    expect_same(listed_at(fs, dir), fs.ls_raw(fs.get_inode_by_path_raw(dir).value()), dir);
  }
}

}  // namespace
}  // namespace sandrig::fs
