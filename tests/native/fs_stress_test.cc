#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

// One worker: random creations, listings, openings, writes and removals
// over a small set of names, so that threads collide on the same nodes.
struct Successes {
  std::atomic<int> created{0}, removed{0}, opened{0}, written{0};
};

void churn(const std::shared_ptr<FileSystem>& fs, unsigned seed, const std::atomic<bool>& stop,
           Successes& successes) {
  std::mt19937 random(seed);
  const char* dirs[] = {"", "/a", "/a/b", "/c", "/a/b/d"};
  const char* names[] = {"a", "b", "c", "d", "x", "y", "z"};
  auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
  std::vector<FileHandle> open_handles;
  while (!stop.load(std::memory_order_relaxed)) {
    const std::string dir = pick(dirs);
    // "/c" gets many names, so that its name index and holes are exercised.
    const std::string name = dir == "/c" ? "n" + std::to_string(random() % 80) : pick(names);
    const std::string path = dir + "/" + name;
    switch (random() % 9) {
      case 0:
        if (fs->mkdir(path)) ++successes.created;
        break;
      case 1:
        if (fs->touch(path)) ++successes.created;
        break;
      case 2:
        if (fs->rm(path, random() % 2 == 0)) ++successes.removed;
        break;
      case 3: {
        if (IoResult<InodeId> dir = fs->get_inode_by_path_raw(pick(dirs))) (void)fs->ls_raw(*dir);
        break;
      }
      case 4:
      case 5: {
        const char* modes[] = {"r", "w", "rw", ""};
        IoResult<FileHandle> handle = FileSystem::open(
            fs, path, FileHandleType::from_str(pick(modes)).value(), random() % 2 == 0);
        if (handle) {
          ++successes.opened;
          open_handles.push_back(std::move(*handle));
        }
        break;
      }
      case 6: {
        if (open_handles.empty()) break;
        FileHandle& handle = open_handles[random() % open_handles.size()];
        const std::vector<std::uint8_t> data(random() % 64, 'q');
        if (handle.write(data)) ++successes.written;
        (void)handle.seek(SeekOrigin::End, random() % 8);
        (void)handle.read_up_to(16);
        break;
      }
      case 7: {
        if (open_handles.empty()) break;
        const std::size_t victim = random() % open_handles.size();
        EXPECT_TRUE(open_handles[victim].close());
        open_handles.erase(open_handles.begin() + static_cast<std::ptrdiff_t>(victim));
        break;
      }
      case 8: (void)fs->debug(); break;
    }
    if (open_handles.size() > 4) open_handles.erase(open_handles.begin());  // dropped: closes
  }
}

TEST(FsStress, ConcurrentTreeKeepsItsInvariants) {
  auto fs = std::make_shared<FileSystem>();
  std::atomic<bool> stop{false};
  Successes successes;
  std::vector<std::thread> workers;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    workers.emplace_back([&, seed] { churn(fs, seed, stop, successes); });
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  for (std::thread& worker : workers) worker.join();
  // The run must have exercised every kind of change, not only failures.
  EXPECT_GT(successes.created, 0);
  EXPECT_GT(successes.removed, 0);
  EXPECT_GT(successes.opened, 0);
  EXPECT_GT(successes.written, 0);
  std::printf("stress: %d created, %d removed, %d opened, %d writes\n", successes.created.load(),
              successes.removed.load(), successes.opened.load(), successes.written.load());

  struct Seen {
    InodeId parent;
    std::string name;
    bool directory;
    std::vector<InodeId> children;
  };
  std::map<InodeId, Seen> nodes;
  fs->for_each_inode([&](const INode& node) {
    Seen seen{node.parent(), std::string(node.name()), node.tag() == INodeTag::Directory, {}};
    const ReadGuard<INodeKind> data = node.read();
    if (const Directory* directory = data->as_directory()) {
      EXPECT_FALSE(directory->is_removed()) << node.id();
      seen.children = directory->children();
    } else if (const File* file = data->as_file()) {
      EXPECT_EQ(file->lock.flag(), 0) << node.id();
    }
    nodes.emplace(node.id(), std::move(seen));
  });
  ASSERT_TRUE(nodes.contains(kRootId));
  for (const auto& [id, node] : nodes) {
    std::set<std::string> names;
    for (InodeId child : node.children) {
      ASSERT_TRUE(nodes.contains(child)) << "listed child " << child << " of " << id;
      EXPECT_EQ(nodes.at(child).parent, id);
      EXPECT_TRUE(names.insert(nodes.at(child).name).second) << "duplicate in " << id;
    }
    if (id == kRootId) continue;
    ASSERT_TRUE(nodes.contains(node.parent)) << "orphan " << id;
    const std::vector<InodeId>& siblings = nodes.at(node.parent).children;
    EXPECT_EQ(std::count(siblings.begin(), siblings.end(), id), 1) << id;
  }
  // Everything can still be removed, down to the root alone.
  const Listing top = fs->ls_raw(kRootId).value();
  for (const std::string& name : top.files) ASSERT_TRUE(fs->rm(name, false));
  for (const std::string& name : top.directories) ASSERT_TRUE(fs->rm(name, true));
  std::size_t left = 0;
  fs->for_each_inode([&](const INode&) { ++left; });
  EXPECT_EQ(left, 1u);
}

}  // namespace
}  // namespace sandrig::fs
