#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "blocked_thread.h"
#include "common/internal_failure.h"
#include "common/mutex.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/internal/rw_lock.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

TEST(FsRwLock, ReadersEnterWhileAWriterWaits) {
  RwLock lock;
  lock.lock_shared();
  std::atomic<bool> written{false};
  std::atomic<pid_t> writer_id{0};
  std::thread writer([&] {
    writer_id = current_thread_id();
    lock.lock();
    written = true;
    lock.unlock();
  });
  wait_until_asleep(writer_id);  // the writer waits for the lock
  // A reader is never queued behind a waiting writer, or a hand-over-hand
  // walk that the writer waits for could never finish.
  ASSERT_TRUE(lock.try_lock_shared());
  lock.unlock_shared();
  EXPECT_FALSE(written);
  lock.unlock_shared();
  writer.join();
  EXPECT_TRUE(written);
  lock.lock();
  EXPECT_FALSE(lock.try_lock_shared());
  lock.unlock();
  EXPECT_FALSE(lock.is_poisoned());
  EXPECT_EQ(sizeof(RwLock), 4u);
}

TEST(FsRwLock, WriterUnwoundByAnExceptionPoisonsTheNode) {
  FileSystem fs;
  ASSERT_TRUE(fs.mkdir("/d"));
  EXPECT_THROW(fs.for_each_inode([](const INode& node) {
    if (node.id() != 1) return;
    const WriteGuard<INodeKind> held = node.write();
    throw std::runtime_error("interrupted change");
  }),
               std::runtime_error);
  EXPECT_NE(fs.debug().find("children: [] }, poisoned: true, .. }"), std::string::npos);
  try {
    (void)fs.ls_raw(1);
    FAIL() << "a poisoned node was read";
  } catch (const InternalFailure& failure) {
    EXPECT_STREQ(failure.what(), kPoisonedLock);
  }
  EXPECT_TRUE(fs.ls_raw(0));  // other nodes are unaffected
}

}  // namespace
}  // namespace sandrig::fs
