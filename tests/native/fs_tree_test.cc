#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

constexpr const char* kNewFileSystem =
    "FileSystem { inodes: {0: INode { id: 0, parent: 0, depth: 0, name: \"\", data: RwLock { "
    "data: Directory { children: [] }, poisoned: false, .. } }}, next_inode_id: 1 }";

InodeId id_of(const FileSystem& fs, std::string_view path) {
  IoResult<InodeId> id = fs.get_inode_by_path_raw(path);
  EXPECT_TRUE(id.has_value()) << path;
  return id.value_or(~InodeId{0});
}

TEST(FsTree, NewFileSystemDebugText) {
  FileSystem fs;
  EXPECT_EQ(fs.debug(), kNewFileSystem);
}

TEST(FsTree, DebugTextOfFilesDirectoriesAndNames) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.touch("/d/q\"\t\n"));
  EXPECT_EQ(fs.debug(),
            "FileSystem { inodes: {0: INode { id: 0, parent: 0, depth: 0, name: \"\", data: "
            "RwLock { data: Directory { children: [1] }, poisoned: false, .. } }, 1: INode { id: "
            "1, parent: 0, depth: 1, name: \"d\", data: RwLock { data: Directory { children: [2] "
            "}, poisoned: false, .. } }, 2: INode { id: 2, parent: 1, depth: 2, name: "
            "\"q\\\"\\t\\n\", data: RwLock { data: File { data: FileData { data: [] }, lock: "
            "FileLock { flag: 0 } }, poisoned: false, .. } }}, next_inode_id: 3 }");
}

TEST(FsTree, DebugTextShowsLockedPayload) {
  FileSystem fs;
  ASSERT_TRUE(fs.touch("/f"));
  std::string text;
  fs.for_each_inode([&](const INode& node) {
    if (node.id() != 1) return;
    const WriteGuard<INodeKind> held = node.write();
    text = fs.debug();
  });
  EXPECT_NE(text.find("name: \"f\", data: RwLock { data: <locked>, poisoned: false, .. } }"),
            std::string::npos)
      << text;
  EXPECT_EQ(fs.debug().find("<locked>"), std::string::npos);
}

TEST(FsTree, PathSyntax) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("a"));
  ASSERT_TRUE(fs.mkdir("/a/b"));
  ASSERT_TRUE(fs.touch("/f"));
  const InodeId a = id_of(fs, "/a"), b = id_of(fs, "/a/b"), f = id_of(fs, "/f");
  const std::pair<const char*, InodeId> cases[] = {
      {"", 0},        {"/", 0},        {"//", 0},       {"///", 0},      {".", 0},
      {"/..", 0},     {"../..", 0},    {"a", a},        {"a/b", b},      {"a\\b", b},
      {"\\a/b\\", b}, {"/a//b/", b},   {"//a//b/", b},  {"/a/./b/.", b}, {"/a/b/..", a},
      {"/f/", f},     {"/f/.", f},     {"/f/./", f},    {"/f/..", 0},    {"/a/b/../../a", a},
  };
  for (const auto& [path, id] : cases) {
    IoResult<InodeId> found = fs.get_inode_by_path_raw(path);
    ASSERT_TRUE(found.has_value()) << path;
    EXPECT_EQ(*found, id) << path;
  }
  const std::pair<const char*, IoErrorKind> failures[] = {
      {"/x", IoErrorKind::InodeNotFound},     {"/a/x", IoErrorKind::InodeNotFound},
      {"/A", IoErrorKind::InodeNotFound},     {"/f/x", IoErrorKind::NotADirectory},
      {"/f/x/y", IoErrorKind::NotADirectory}, {"/x/..", IoErrorKind::InodeNotFound},
  };
  for (const auto& [path, kind] : failures) {
    EXPECT_EQ(fs.get_inode_by_path_raw(path).error(), kind) << path;
  }
}

TEST(FsTree, NameLookupAndPaths) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/docs"));
  ASSERT_TRUE(fs.touch("/docs/a.txt"));
  ASSERT_TRUE(fs.mkdir("/e"));
  const InodeId docs = id_of(fs, "/docs"), file = id_of(fs, "/docs/a.txt"), e = id_of(fs, "/e");
  EXPECT_EQ(fs.find_inode_by_name(docs, "a.txt"), file);
  EXPECT_EQ(fs.find_inode_by_name(docs, ""), docs);
  EXPECT_EQ(fs.find_inode_by_name(docs, "."), docs);
  EXPECT_EQ(fs.find_inode_by_name(file, ".."), docs);
  EXPECT_EQ(fs.find_inode_by_name(file, "x").error(), IoErrorKind::NotADirectory);
  EXPECT_EQ(fs.find_inode_by_name(e, "x").error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.find_inode_by_name(docs, "A.TXT").error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.find_inode_by_name(99, "x").error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.get_path_by_inode(0), "/");
  EXPECT_EQ(fs.get_path_by_inode(docs), "/docs");
  EXPECT_EQ(fs.get_path_by_inode(file), "/docs/a.txt");
  EXPECT_EQ(fs.is_directory_raw(0), true);
  EXPECT_EQ(fs.is_file_raw(0), false);
  EXPECT_EQ(fs.is_file_raw(file), true);
  EXPECT_EQ(fs.is_file_raw(42).error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.get_inode_raw(0), 0u);
  for (InodeId absent : {InodeId{7}, InodeId{1} << 40, ~InodeId{0}}) {
    EXPECT_EQ(fs.get_inode_raw(absent).error(), IoErrorKind::InodeNotFound);
  }
  ASSERT_TRUE(fs.rm("/docs/a.txt", false));
  EXPECT_EQ(fs.get_path_by_inode(file).error(), IoErrorKind::InodeNotFound);
  fs.release_inode_id(12345);  // absent: nothing happens
  fs.release_inode_id(~InodeId{0});
}

TEST(FsTree, SymlinksAreFollowed) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  const InodeId d = id_of(fs, "/d");
  IoResult<InodeId> link = fs.create_inode(0, "l", INodeKind::symlink(d));
  ASSERT_TRUE(link);
  EXPECT_EQ(fs.get_inode_raw(*link), d);
  EXPECT_EQ(fs.is_directory_raw(*link), true);
  IoResult<InodeId> loop = fs.create_inode(0, "loop", INodeKind::symlink(fs.get_inode_raw(0).value() + 100));
  ASSERT_TRUE(loop);
  EXPECT_EQ(fs.get_inode_raw(*loop).error(), IoErrorKind::InodeNotFound);
}

TEST(FsCreation, ErrorsAndIdConsumption) {
  FileSystem fs;
  ASSERT_TRUE(fs.touch("/f"));  // id 1
  struct Case {
    const char* path;
    bool directory;
    IoErrorKind error;
    bool consumes_id;
  };
  const Case cases[] = {
      {"/", true, IoErrorKind::ResourceAlreadyExists, false},
      {"/a/", true, IoErrorKind::ResourceAlreadyExists, false},
      {"/a/..", true, IoErrorKind::ResourceAlreadyExists, false},  // /a missing too
      {"/.", true, IoErrorKind::ResourceAlreadyExists, false},
      {"/..", false, IoErrorKind::ResourceAlreadyExists, false},
      {"/f", false, IoErrorKind::ResourceAlreadyExists, true},
      {"/f", true, IoErrorKind::ResourceAlreadyExists, true},
      {"/x/y", true, IoErrorKind::InodeNotFound, false},
      {"/f/d", true, IoErrorKind::NotADirectory, true},
      {"/f/d/e", true, IoErrorKind::NotADirectory, false},
  };
  InodeId expected_next = 2;
  for (const Case& c : cases) {
    IoResult<void> result = c.directory ? fs.mkdir(c.path) : fs.touch(c.path);
    ASSERT_FALSE(result.has_value()) << c.path;
    EXPECT_EQ(result.error(), c.error) << c.path;
    if (c.consumes_id) ++expected_next;
    IoResult<InodeId> next = fs.create_inode(0, "probe" + std::to_string(expected_next),
                                             INodeKind::file());
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, expected_next) << c.path;
    ++expected_next;
  }
  EXPECT_EQ(fs.create_inode(99, "x", INodeKind::file()).error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.create_inode(0, "a/b", INodeKind::file()).error(),
            IoErrorKind::ResourceAlreadyExists);
  EXPECT_EQ(fs.create_inode(0, "a\\b", INodeKind::file()).error(),
            IoErrorKind::ResourceAlreadyExists);
  ASSERT_TRUE(fs.mkdir("\\b"));
  ASSERT_TRUE(fs.mkdir("B"));  // letter case differs: another entry
}

TEST(FsCreation, DepthLimit) {
  FileSystem fs;
  std::string path;
  for (std::size_t depth = 1; depth <= kMaxDepth; ++depth) {
    path += "/d";
    ASSERT_TRUE(fs.mkdir(path)) << depth;
  }
  EXPECT_EQ(fs.mkdir(path + "/d").error(), IoErrorKind::MaxRecursionDepthExceeded);
  EXPECT_EQ(fs.touch(path + "/f").error(), IoErrorKind::MaxRecursionDepthExceeded);
  // A file at depth 64 as parent: the depth is examined before the kind.
  std::string shallow = path.substr(0, path.size() - 2);
  ASSERT_TRUE(fs.touch(shallow + "/f"));
  const InodeId deep_file = id_of(fs, shallow + "/f");
  EXPECT_EQ(fs.create_inode(deep_file, "x", INodeKind::file()).error(),
            IoErrorKind::MaxRecursionDepthExceeded);
  EXPECT_EQ(fs.get_path_by_inode(id_of(fs, path)), path);
}

TEST(FsCreation, ChildrenKeepCreationOrderInSmallAndIndexedDirectories) {
  for (int count : {3, 200}) {
    FileSystem fs;
    ASSERT_TRUE(fs.mkdir("/d"));
    std::vector<std::string> files, directories;
    for (int i = 0; i < count; ++i) {
      const std::string name = "n" + std::to_string((i * 7919) % 1000);
      if (i % 3 == 1) {
        ASSERT_TRUE(fs.mkdir("/d/" + name));
        directories.push_back(name);
      } else {
        ASSERT_TRUE(fs.touch("/d/" + name));
        files.push_back(name);
      }
      EXPECT_EQ(fs.touch("/d/" + name).error(), IoErrorKind::ResourceAlreadyExists);
    }
    IoResult<Listing> listing = fs.ls_raw(id_of(fs, "/d"));
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->files, files);
    EXPECT_EQ(listing->directories, directories);
    for (const std::string& name : files) {
      IoResult<InodeId> found = fs.get_inode_by_path_raw("/d/" + name);
      ASSERT_TRUE(found) << name;
      EXPECT_EQ(fs.get_path_by_inode(*found), "/d/" + name);
    }
    // Removing from the middle keeps the order; the name is free again.
    ASSERT_TRUE(fs.rm("/d/" + files[1], false));
    files.erase(files.begin() + 1);
    EXPECT_EQ(fs.ls_raw(id_of(fs, "/d"))->files, files);
    EXPECT_EQ(fs.get_inode_by_path_raw("/d/" + std::string("n7919")).error(),
              IoErrorKind::InodeNotFound);
  }
}

TEST(FsCreation, LargeDirectorySurvivesManyRemovals) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  std::vector<std::string> kept;
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(fs.touch("/d/f" + std::to_string(i)));
  // Remove two of every three, in rounds, so holes are squeezed out often.
  for (int round = 0; round < 3; ++round) {
    for (int i = round; i < 300; i += 3) {
      if (i % 3 != 2) {
        ASSERT_TRUE(fs.rm("/d/f" + std::to_string(i), false)) << i;
      }
    }
  }
  for (int i = 2; i < 300; i += 3) kept.push_back("f" + std::to_string(i));
  const InodeId d = id_of(fs, "/d");
  EXPECT_EQ(fs.ls_raw(d)->files, kept);
  for (const std::string& name : kept) {
    EXPECT_EQ(fs.get_path_by_inode(id_of(fs, "/d/" + name)), "/d/" + name);
  }
  EXPECT_EQ(fs.get_inode_by_path_raw("/d/f0").error(), IoErrorKind::InodeNotFound);
  ASSERT_TRUE(fs.touch("/d/f0"));  // a removed name is free again, listed last
  kept.push_back("f0");
  EXPECT_EQ(fs.ls_raw(d)->files, kept);
  EXPECT_EQ(fs.touch("/d/f5").error(), IoErrorKind::ResourceAlreadyExists);
  ASSERT_TRUE(fs.rm("/d", true));
}

TEST(FsListing, SplitsByKindAndFails) {
  FileSystem fs;
  EXPECT_TRUE(fs.ls_raw(0)->files.empty());
  EXPECT_TRUE(fs.ls_raw(0)->directories.empty());
  ASSERT_TRUE(fs.touch("/b"));
  ASSERT_TRUE(fs.mkdir("/a"));
  ASSERT_TRUE(fs.touch("/c"));
  IoResult<Listing> listing = fs.ls_raw(0);
  EXPECT_EQ(listing->files, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(listing->directories, (std::vector<std::string>{"a"}));
  EXPECT_EQ(fs.ls_raw(id_of(fs, "/b")).error(), IoErrorKind::NotADirectory);
  const InodeId a = id_of(fs, "/a");
  ASSERT_TRUE(fs.rm("/a", false));
  EXPECT_EQ(fs.ls_raw(a).error(), IoErrorKind::InodeNotFound);
}

TEST(FsRemoval, RecursivePostOrderWithPartialFailure) {
  auto fs = std::make_shared<FileSystem>();
  ASSERT_TRUE(fs->mkdir("/a"));
  ASSERT_TRUE(fs->touch("/a/x"));
  ASSERT_TRUE(fs->touch("/a/y"));
  ASSERT_TRUE(fs->mkdir("/a/z"));
  const InodeId x = id_of(*fs, "/a/x");
  IoResult<FileHandle> handle = FileSystem::open(fs, "/a/y", FileHandleType(1), false);
  ASSERT_TRUE(handle);
  EXPECT_EQ(fs->rm("/a", false).error(), IoErrorKind::DirectoryIsNotEmpty);
  EXPECT_EQ(fs->rm("/a", true).error(), IoErrorKind::ResourceCurrentInUse);
  EXPECT_EQ(fs->get_inode_raw(x).error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs->ls_raw(id_of(*fs, "/a"))->files, std::vector<std::string>{"y"});
  EXPECT_EQ(fs->ls_raw(id_of(*fs, "/a"))->directories, std::vector<std::string>{"z"});
  EXPECT_EQ(fs->rm("/a/y", false).error(), IoErrorKind::ResourceCurrentInUse);
  ASSERT_TRUE(handle->close());
  ASSERT_TRUE(fs->rm("/a", true));
  EXPECT_TRUE(fs->ls_raw(0)->directories.empty());
  EXPECT_EQ(fs->rm("/a", true).error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs->rm("/nodir/f", true).error(), IoErrorKind::InodeNotFound);
}

TEST(FsRemoval, DeepTreeGoesWholeAndFilesIgnoreTheFlag) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/t"));
  ASSERT_TRUE(fs.mkdir("/t/u"));
  ASSERT_TRUE(fs.touch("/t/u/f"));
  ASSERT_TRUE(fs.touch("/t/g"));
  ASSERT_TRUE(fs.touch("/h"));
  ASSERT_TRUE(fs.rm("/h", true));
  ASSERT_TRUE(fs.mkdir("/e"));
  ASSERT_TRUE(fs.rm("/e", false));
  ASSERT_TRUE(fs.rm("/t", true));
  EXPECT_EQ(fs.debug(),
            "FileSystem { inodes: {0: INode { id: 0, parent: 0, depth: 0, name: \"\", data: "
            "RwLock { data: Directory { children: [] }, poisoned: false, .. } }}, "
            "next_inode_id: 7 }");
}

TEST(FsRemoval, RootIsNeverRemoved) {
  for (const char* path : {"/", "", ".", "/..", "//"}) {
    for (bool recursive : {false, true}) {
      FileSystem fs;
      ASSERT_TRUE(fs.mkdir("/keep"));
      EXPECT_EQ(fs.rm(path, recursive).error(), IoErrorKind::ResourceCurrentInUse) << path;
      EXPECT_EQ(fs.rm_raw(0, recursive).error(), IoErrorKind::ResourceCurrentInUse);
      EXPECT_EQ(fs.ls_raw(0)->directories, std::vector<std::string>{"keep"});
    }
  }
}

// A recursive removal stops at the first entry that cannot go: the entries
// before it in creation order are gone, it and the later ones (files and
// subdirectories) stay listed and reachable, in small and indexed
// directories alike; once it is free the rest goes and no node is left.
struct StopCase {
  int entries;
  int open_at;      // a file's position
  int period = 7;   // every period-th entry from 3 on is a directory
};

class FsRemovalStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(FsRemovalStop, AtAnOpenFileKeepsTheRestIntact) {
  const StopCase param = GetParam();
  auto fs = std::make_shared<FileSystem>();
  ASSERT_TRUE(fs->mkdir("/d"));
  std::vector<std::string> names;
  for (int i = 0; i < param.entries; ++i) {
    names.push_back("e" + std::to_string(i));
    if (i % param.period == 3) {
      ASSERT_TRUE(fs->mkdir("/d/" + names.back()));
      ASSERT_TRUE(fs->touch("/d/" + names.back() + "/inner"));
    } else {
      ASSERT_TRUE(fs->touch("/d/" + names.back()));
    }
  }
  IoResult<FileHandle> handle =
      FileSystem::open(fs, "/d/" + names[param.open_at], FileHandleType(1), false);
  ASSERT_TRUE(handle);
  EXPECT_EQ(fs->rm("/d", true).error(), IoErrorKind::ResourceCurrentInUse);
  Listing expected;
  for (int i = 0; i < param.entries; ++i) {
    const std::string path = "/d/" + names[i];
    if (i < param.open_at) {
      EXPECT_EQ(fs->get_inode_by_path_raw(path).error(), IoErrorKind::InodeNotFound) << path;
      continue;
    }
    EXPECT_TRUE(fs->get_inode_by_path_raw(path)) << path;
    (i % param.period == 3 ? expected.directories : expected.files).push_back(names[i]);
  }
  const Listing listed = fs->ls_raw(id_of(*fs, "/d")).value();
  EXPECT_EQ(listed.files, expected.files);
  EXPECT_EQ(listed.directories, expected.directories);
  ASSERT_TRUE(handle->close());
  ASSERT_TRUE(fs->rm("/d", true));
  EXPECT_EQ(fs->inode_count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FsRemovalStop,
                         ::testing::Values(StopCase{5, 0}, StopCase{5, 2}, StopCase{5, 4},
                                           StopCase{40, 0}, StopCase{40, 19}, StopCase{40, 39},
                                           StopCase{300, 1}, StopCase{300, 151}, StopCase{300, 299},
                                           // Runs of 39 files, longer than a removal
                                           // looks ahead, stopped around where it does.
                                           StopCase{90, 0, 40}, StopCase{90, 11, 40},
                                           StopCase{90, 12, 40}, StopCase{90, 13, 40},
                                           StopCase{90, 34, 40}, StopCase{90, 52, 40},
                                           StopCase{90, 89, 40}));

// A link inside a removed tree is followed, as every removal follows it:
// its target goes, the link stays, and so does the directory holding it;
// the files around it go in order all the same.
TEST(FsRemoval, ALinkInATreeTakesItsTargetAndStays) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.touch("/target"));
  ASSERT_TRUE(fs.touch("/d/f0"));
  ASSERT_TRUE(fs.create_inode(id_of(fs, "/d"), "link", INodeKind::symlink(id_of(fs, "/target"))));
  ASSERT_TRUE(fs.touch("/d/f1"));
  EXPECT_EQ(fs.rm("/d", true).error(), IoErrorKind::DirectoryIsNotEmpty);
  EXPECT_EQ(fs.get_inode_by_path_raw("/target").error(), IoErrorKind::InodeNotFound);
  EXPECT_EQ(fs.ls_raw(id_of(fs, "/d"))->files, std::vector<std::string>{});
  EXPECT_EQ(fs.inode_count(), 3u);  // the root, /d and the dangling link
}

}  // namespace
}  // namespace sandrig::fs

namespace sandrig::fs {
namespace {

// Resolves `path` one component at a time through find_inode_by_name,
// following links at each step: what a path walk must agree with.
IoResult<InodeId> walk_by_names(const FileSystem& fs, std::string_view path) {
  InodeId at = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
    const std::string_view name = path.substr(start, i - start);
    start = i + 1;
    if (name.empty() || name == ".") continue;
    IoResult<InodeId> next = fs.find_inode_by_name(at, name);
    if (!next) return next;
    IoResult<InodeId> followed = fs.get_inode_raw(*next);
    if (!followed) return followed;
    at = *followed;
  }
  return at;
}

TEST(FsTree, PathWalkAgreesWithNameLookupsAcrossLinksDotsAndLargeDirectories) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/big"));
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(fs.touch("/big/f" + std::to_string(i)));
  ASSERT_TRUE(fs.mkdir("/big/sub"));
  ASSERT_TRUE(fs.mkdir("/big/sub/deep"));
  ASSERT_TRUE(fs.touch("/big/sub/deep/leaf"));
  const InodeId sub = id_of(fs, "/big/sub");
  ASSERT_TRUE(fs.create_inode(0, "link", INodeKind::symlink(sub)));
  ASSERT_TRUE(fs.create_inode(sub, "up", INodeKind::symlink(0)));
  ASSERT_TRUE(fs.rm("/big/f3", false));  // a hole in the indexed directory
  for (std::string_view path :
       {"/big/f0", "/big/f39", "/big/f3", "/big/sub/deep/leaf", "big\\sub\\deep", "/link/deep",
        "/link/deep/leaf", "/big/sub/up/big", "/big/sub/../f1", "/big/f0/x", "/big/f0/..",
        "/nope/x", "//big//sub/./deep/", "/link/../f2", "/big/sub/deep/leaf/..", ""}) {
    EXPECT_EQ(fs.get_inode_by_path_raw(path), walk_by_names(fs, path)) << path;
  }
}

TEST(FsListing, LinksAreListedAsWhatTheyLeadTo) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  ASSERT_TRUE(fs.touch("/f"));
  ASSERT_TRUE(fs.create_inode(0, "to_d", INodeKind::symlink(id_of(fs, "/d"))));
  ASSERT_TRUE(fs.create_inode(0, "dangling", INodeKind::symlink(999)));
  IoResult<Listing> listing = fs.ls_raw(0);
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->files, std::vector<std::string>{"f"});
  EXPECT_EQ(listing->directories, (std::vector<std::string>{"d", "d"}));
}

}  // namespace
}  // namespace sandrig::fs
