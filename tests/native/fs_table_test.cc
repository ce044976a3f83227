#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "blocked_thread.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"
#include "fs/internal/inode_table.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

std::unique_ptr<INode> file_node(InodeId id) {
  return std::make_unique<INode>(id, kRootId, 1, "f" + std::to_string(id), INodeKind::file());
}

TEST(FsTable, MemoryFollowsLiveNodesNotIdsHandedOut) {
  FileSystem fs;
  const std::size_t empty_buckets = fs.table_buckets();
  // Failed creations use ids up too; neither may leave anything behind.
  for (int cycle = 0; cycle < 200000; ++cycle) {
    ASSERT_TRUE(fs.touch("/f"));
    ASSERT_EQ(fs.touch("/f").error(), IoErrorKind::ResourceAlreadyExists);
    ASSERT_TRUE(fs.rm("/f", false));
  }
  EXPECT_EQ(fs.inode_count(), 1u);
  EXPECT_LE(fs.table_buckets(), empty_buckets + 64 * 8);

  // A large population shrinks back once removed.
  ASSERT_TRUE(fs.mkdir("/d"));
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(fs.touch("/d/f" + std::to_string(i)));
  EXPECT_GE(fs.table_buckets(), 20000u);
  ASSERT_TRUE(fs.rm("/d", true));
  EXPECT_EQ(fs.inode_count(), 1u);
  EXPECT_LE(fs.table_buckets(), 64 * 16u);
}

TEST(FsTable, DebugIterationVisitsLiveNodesInIdOrder) {
  FileSystem fs;
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(fs.touch("/f" + std::to_string(i)));
  for (int i = 0; i < 500; i += 2) ASSERT_TRUE(fs.rm("/f" + std::to_string(i), false));
  std::vector<InodeId> seen;
  fs.for_each_inode([&](const INode& node) { seen.push_back(node.id()); });
  ASSERT_EQ(seen.size(), 251u);
  EXPECT_EQ(seen.front(), kRootId);
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i], 2 * i) << i;
}

TEST(FsTable, InsertReplacesAndRemoveTakesOut) {
  INodeTable table;
  EXPECT_EQ(table.insert(7, file_node(7)), nullptr);
  std::unique_ptr<INode> previous = table.insert(7, file_node(7));
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->id(), 7u);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_FALSE(table.get(8).has_value());
  EXPECT_EQ(table.remove(8), nullptr);
  // Ids far apart and ids that collide on the low bits all stay findable,
  // before and after neighbours of their probe runs leave.
  for (InodeId id = 1; id <= 3000; ++id) table.insert(id << 20, file_node(id << 20));
  for (InodeId id = 1; id <= 3000; id += 3) ASSERT_NE(table.remove(id << 20), nullptr);
  for (InodeId id = 1; id <= 3000; ++id) {
    EXPECT_EQ(table.get(id << 20).has_value(), id % 3 != 1) << id;
  }
}

TEST(FsTable, RemovalWaitsForGuardsOfItsEntryOnly) {
  INodeTable table;
  table.insert(1, file_node(1));
  table.insert(2, file_node(2));
  std::optional<EntryGuard> held = table.get(1);
  ASSERT_TRUE(held.has_value());
  // Holding a guard on 1, this thread inserts and removes other entries and
  // takes a second guard on 1 itself.
  EXPECT_NE(table.remove(2), nullptr);
  table.insert(3, file_node(3));
  EXPECT_TRUE(table.get(1).has_value());

  std::atomic<bool> removed{false};
  std::atomic<pid_t> remover_id{0};
  std::thread remover([&] {
    remover_id = current_thread_id();
    EXPECT_NE(table.remove(1), nullptr);
    removed = true;
  });
  wait_until_asleep(remover_id);  // the removal waits for the guard
  EXPECT_FALSE(removed.load());
  EXPECT_EQ((*held)->id(), 1u);  // still alive under the guard
  EXPECT_TRUE(table.get(3).has_value());
  held.reset();
  remover.join();
  EXPECT_TRUE(removed.load());
  EXPECT_FALSE(table.get(1).has_value());
}

TEST(FsTable, ConcurrentLookupsInsertsAndRemovals) {
  INodeTable table;
  constexpr InodeId kPerThread = 4000;
  std::vector<std::thread> workers;
  for (InodeId t = 0; t < 3; ++t) {
    workers.emplace_back([&table, t] {
      const InodeId base = (t + 1) * 1000000;
      for (int round = 0; round < 3; ++round) {
        for (InodeId i = 0; i < kPerThread; ++i) table.insert(base + i, file_node(base + i));
        for (InodeId i = 0; i < kPerThread; ++i) {
          std::optional<EntryGuard> entry = table.get(base + i);
          ASSERT_TRUE(entry.has_value());
          EXPECT_EQ((*entry)->id(), base + i);
          (void)table.get(base + kPerThread - i - 1);
        }
        for (InodeId i = 0; i < kPerThread; ++i) ASSERT_NE(table.remove(base + i), nullptr);
      }
    });
  }
  // Two removers race for the same entries: exactly one takes each.
  for (InodeId i = 0; i < 2000; ++i) table.insert(i + 1, file_node(i + 1));
  std::atomic<int> taken{0};
  for (int r = 0; r < 2; ++r) {
    workers.emplace_back([&] {
      for (InodeId i = 0; i < 2000; ++i) {
        if (table.remove(i + 1) != nullptr) ++taken;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(taken.load(), 2000);
  EXPECT_EQ(table.size(), 0u);
}

}  // namespace
}  // namespace sandrig::fs
