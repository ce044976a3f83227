#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_handle_type.h"
#include "fs/file_system.h"
#include "fs/inode_kind.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

InodeId id_of(const FileSystem& fs, std::string_view path) {
  IoResult<InodeId> id = fs.get_inode_by_path_raw(path);
  EXPECT_TRUE(id.has_value()) << path;
  return id.value_or(~InodeId{0});
}

std::vector<std::string> unpack(const PackedNames& names) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at = 0; at < names.text.size(); ++at) {
    if (names.text[at] != '/') continue;
    out.push_back(names.text.substr(start, at - start));
    start = at + 1;
  }
  EXPECT_EQ(start, names.text.size()) << "every name ends with '/'";
  EXPECT_EQ(out.size(), names.count);
  return out;
}

PackedListing full_listing(const FileSystem& fs, InodeId id) {
  IoResult<std::optional<PackedListing>> listing = fs.ls_packed(id, std::nullopt);
  EXPECT_TRUE(listing.has_value() && listing->has_value());
  return listing.value_or(std::nullopt).value_or(PackedListing{});
}

std::uint64_t stamp_of(const FileSystem& fs, std::string_view path) {
  return full_listing(fs, id_of(fs, path)).stamp;
}

// Sizes around the inline storage and the name index, with holes, names
// that are not ASCII and names on both sides of a node's inline name
// storage (12 bytes).
TEST(FsPackedListing, AgreesWithLsRaw) {
  for (int count : {0, 1, 6, 7, 8, 9, 31, 32, 33, 100}) {
    FileSystem fs;
    ASSERT_TRUE(fs.mkdir("/d"));
    const auto path_of = [](int i) {
      const std::size_t padding = i % 4 == 3 ? 5 + i % 11 : i % 10 == 9 ? 40 : 0;
      return "/d/" + std::string(i % 5 == 0 ? "\xc3\xa9t\xc3\xa9" : "n") + std::to_string(i) +
             std::string(padding, 'x');
    };
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(i % 3 == 1 ? fs.mkdir(path_of(i)) : fs.touch(path_of(i)));
    }
    for (int i = 2; i < count; i += 4) ASSERT_TRUE(fs.rm(path_of(i), true));
    const InodeId d = id_of(fs, "/d");
    const Listing expected = fs.ls_raw(d).value();
    const PackedListing packed = full_listing(fs, d);
    EXPECT_EQ(unpack(packed.files), expected.files) << count;
    EXPECT_EQ(unpack(packed.directories), expected.directories) << count;
    EXPECT_TRUE(packed.stable);
  }
}

// Random creations and removals, through the sizes where a directory's
// entries move out of the node and get a name index, with holes, and after
// a link came in: the packed listing stays equal to ls_raw's.
TEST(FsPackedListing, FollowsEveryChange) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.mkdir("/t"));
  const InodeId d = id_of(fs, "/d");
  std::uint32_t seed = 7;
  const auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  std::set<std::string> present;
  for (int step = 0; step < 3000; ++step) {
    const std::string name = (step % 7 == 0 ? "long-name-of-entry-" : "e") + std::to_string(next(80));
    const std::string path = "/d/" + name;
    if (step == 2500) {
      ASSERT_TRUE(fs.create_inode(d, "link", INodeKind::symlink(id_of(fs, "/t"))));
    } else if (present.contains(name)) {
      ASSERT_TRUE(fs.rm(path, true));
      present.erase(name);
    } else {
      ASSERT_TRUE(next(3) == 0 ? fs.mkdir(path) : fs.touch(path));
      present.insert(name);
    }
    const Listing expected = fs.ls_raw(d).value();
    const PackedListing packed = full_listing(fs, d);
    ASSERT_EQ(unpack(packed.files), expected.files) << step;
    ASSERT_EQ(unpack(packed.directories), expected.directories) << step;
  }
}

// A recursive removal stopped by an open file takes the run of files
// before it out of the directory at once.
TEST(FsPackedListing, FollowsAStoppedBulkRemoval) {
  auto fs = std::make_shared<FileSystem>();
  ASSERT_TRUE(fs->mkdir("/b"));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(fs->touch("/b/f" + std::to_string(i)));
  IoResult<FileHandle> held =
      FileSystem::open(fs, "/b/f12", FileHandleType::from_str("r").value(), false);
  ASSERT_TRUE(held);
  EXPECT_FALSE(fs->rm("/b", true));
  const InodeId b = id_of(*fs, "/b");
  EXPECT_EQ(unpack(full_listing(*fs, b).files), fs->ls_raw(b)->files);
  EXPECT_EQ(full_listing(*fs, b).files.count, 8u);
}

TEST(FsPackedListing, FailsLikeLsRaw) {
  FileSystem fs;
  ASSERT_TRUE(fs.touch("/f"));
  ASSERT_TRUE(fs.mkdir("/gone"));
  const InodeId gone = id_of(fs, "/gone");
  ASSERT_TRUE(fs.rm("/gone", false));
  for (InodeId id : {id_of(fs, "/f"), gone, InodeId{999}}) {
    EXPECT_EQ(fs.ls_packed(id, std::nullopt).error(), fs.ls_raw(id).error()) << id;
    EXPECT_EQ(fs.ls_packed(id, 0).error(), fs.ls_raw(id).error()) << id;
  }
}

TEST(FsListingStamp, EveryChangeOfTheEntriesTakesAFreshStamp) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.mkdir("/e"));
  EXPECT_EQ(stamp_of(fs, "/d"), 0u) << "a new directory is unchanged";
  std::set<std::uint64_t> seen{0, stamp_of(fs, "/")};
  const auto changes = [&](auto&& change, std::string_view dir) {
    change();
    const std::uint64_t stamp = stamp_of(fs, dir);
    EXPECT_TRUE(seen.insert(stamp).second) << "stamp " << stamp << " given twice";
  };
  // Both directories draw from one counter; /d's own children count, the
  // children of its children do not.
  changes([&] { ASSERT_TRUE(fs.touch("/d/a")); }, "/d");
  changes([&] { ASSERT_TRUE(fs.touch("/e/a")); }, "/e");
  changes([&] { ASSERT_TRUE(fs.mkdir("/d/sub")); }, "/d");
  const std::uint64_t before_nested = stamp_of(fs, "/d");
  ASSERT_TRUE(fs.touch("/d/sub/x"));
  ASSERT_TRUE(fs.mkdir("/d/sub/y"));
  EXPECT_EQ(stamp_of(fs, "/d"), before_nested);
  changes([&] { ASSERT_TRUE(fs.rm("/d/a", false)); }, "/d");
  changes([&] { ASSERT_TRUE(fs.rm("/e/a", false)); }, "/e");
  changes([&] { ASSERT_TRUE(fs.rm("/d/sub", true)); }, "/d");
  changes([&] { ASSERT_TRUE(fs.touch("/d/a")); }, "/d");  // the same name again
  // Refused changes leave the stamp.
  const std::uint64_t settled = stamp_of(fs, "/d");
  ASSERT_TRUE(fs.mkdir("/d/full"));
  ASSERT_TRUE(fs.touch("/d/full/x"));
  const std::uint64_t with_full = stamp_of(fs, "/d");
  EXPECT_NE(with_full, settled);
  EXPECT_FALSE(fs.touch("/d/a"));
  EXPECT_FALSE(fs.mkdir("/d/full"));
  EXPECT_FALSE(fs.rm("/d/full", false));
  EXPECT_FALSE(fs.touch("/d/a/b"));
  EXPECT_EQ(stamp_of(fs, "/d"), with_full);
}

TEST(FsListingStamp, TheSeenStampSkipsTheNames) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  const InodeId d = id_of(fs, "/d");
  EXPECT_FALSE(fs.ls_packed(d, 0).value().has_value());
  ASSERT_TRUE(fs.touch("/d/f"));
  const PackedListing first = full_listing(fs, d);
  EXPECT_TRUE(fs.ls_packed(d, 0).value().has_value());
  EXPECT_FALSE(fs.ls_packed(d, first.stamp).value().has_value());
  ASSERT_TRUE(fs.rm("/d/f", false));
  std::optional<PackedListing> after = fs.ls_packed(d, first.stamp).value();
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->files.count, 0u);
  EXPECT_NE(after->stamp, first.stamp);
}

TEST(FsListingStamp, LinksAndVanishedEntriesMakeTheListingUnstable) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.mkdir("/t"));
  ASSERT_TRUE(fs.touch("/d/f"));
  EXPECT_TRUE(full_listing(fs, id_of(fs, "/d")).stable);
  ASSERT_TRUE(fs.create_inode(id_of(fs, "/d"), "l", INodeKind::symlink(id_of(fs, "/t"))));
  PackedListing linked = full_listing(fs, id_of(fs, "/d"));
  EXPECT_FALSE(linked.stable);
  EXPECT_EQ(unpack(linked.directories), std::vector<std::string>{"t"});

  ASSERT_TRUE(fs.mkdir("/v"));
  ASSERT_TRUE(fs.touch("/v/f"));
  fs.release_inode_id(id_of(fs, "/v/f"));
  PackedListing vanished = full_listing(fs, id_of(fs, "/v"));
  EXPECT_FALSE(vanished.stable);
  EXPECT_EQ(vanished.files.count, 0u);
}

// A node released while its directory still lists it (the unlinking was
// skipped) is a vanished entry from then on, in a small and in an indexed
// directory: never read through the directory again (the sanitized build
// runs this too), its name free, the listing unstable.
class FsReleasedWhileListed : public ::testing::TestWithParam<int> {};

TEST_P(FsReleasedWhileListed, ListsAVanishedEntry) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.mkdir("/d/sub"));
  ASSERT_TRUE(fs.touch("/d/sub/x"));
  std::vector<std::string> kept;
  for (int n = 0; n < GetParam(); ++n) {
    ASSERT_TRUE(fs.touch("/d/f" + std::to_string(n)));
    if (n != 1) kept.push_back("f" + std::to_string(n));
  }
  const InodeId d = id_of(fs, "/d");
  const std::uint64_t before = full_listing(fs, d).stamp;
  fs.release_inode_id(id_of(fs, "/d/f1"));
  fs.release_inode_id(id_of(fs, "/d/sub"));
  const PackedListing after = full_listing(fs, d);
  EXPECT_NE(after.stamp, before);
  EXPECT_FALSE(after.stable);
  EXPECT_EQ(unpack(after.files), kept);
  EXPECT_EQ(after.directories.count, 0u);
  EXPECT_EQ(fs.ls_raw(d).value().files, kept);
  for (const char* gone : {"/d/f1", "/d/sub", "/d/sub/x"}) {
    EXPECT_EQ(fs.get_inode_by_path_raw(gone).error(), IoErrorKind::InodeNotFound) << gone;
  }
  EXPECT_TRUE(fs.touch("/d/f1"));
  fs.release_inode_id(d);  // listed by the root, and listing the released entries
  EXPECT_EQ(fs.get_inode_by_path_raw("/d/f0").error(), IoErrorKind::InodeNotFound);
  EXPECT_TRUE(fs.ls_raw(kRootId).value().directories.empty());
}

INSTANTIATE_TEST_SUITE_P(SmallAndIndexed, FsReleasedWhileListed,
                         ::testing::Values(3, int{Directory::kIndexThreshold} + 8));

// A listing and its stamp are read under one lock: two listings with the
// same stamp hold the same names, while a writer changes the directory.
TEST(FsListingStamp, OneStampOneListingUnderConcurrentChanges) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  const InodeId d = id_of(fs, "/d");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int round = 0; round < 400; ++round) {
      const std::string name = "/d/n" + std::to_string(round % 40);
      (void)(round % 80 < 40 ? fs.touch(name) : fs.rm(name, false));
    }
    stop = true;
  });
  std::map<std::uint64_t, std::vector<std::string>> by_stamp;
  std::optional<std::uint64_t> last;
  for (bool full = false; !stop.load(); full = !full) {
    // Every other listing asks for the names whatever the stamp.
    std::optional<PackedListing> listing = fs.ls_packed(d, full ? std::nullopt : last).value();
    if (!listing) continue;
    auto [at, fresh] = by_stamp.emplace(listing->stamp, unpack(listing->files));
    if (!fresh) {
      EXPECT_EQ(at->second, unpack(listing->files)) << listing->stamp;
    }
    last = listing->stamp;
  }
  writer.join();
  const PackedListing final_listing = full_listing(fs, d);
  EXPECT_EQ(unpack(final_listing.files), fs.ls_raw(d)->files);
  EXPECT_FALSE(fs.ls_packed(d, final_listing.stamp).value().has_value());
}

}  // namespace
}  // namespace sandrig::fs
