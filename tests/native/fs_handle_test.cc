#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/internal_failure.h"
#include "fs/file_handle.h"
#include "fs/file_lock.h"
#include "fs/file_system.h"
#include "fs/inode_kind.h"
#include "fs/internal/write_range.h"
#include "fs_test_support.h"

namespace sandrig::fs {
namespace {

constexpr std::size_t kMaxWord = std::numeric_limits<std::size_t>::max();

FileHandleType mode(const char* text) { return FileHandleType::from_str(text).value(); }

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string text(const std::vector<std::uint8_t>& data) { return {data.begin(), data.end()}; }

class FsHandle : public ::testing::Test {
 protected:
  FileHandle open(const char* path, const char* how) {
    IoResult<FileHandle> handle = FileSystem::open(fs_, path, mode(how), true);
    EXPECT_TRUE(handle.has_value()) << path << " " << how;
    return std::move(handle.value());
  }
  std::int32_t flag(const char* path) {
    // The flag as the debug text shows it.
    const std::string debug = fs_->debug();
    const std::string id = std::to_string(fs_->get_inode_by_path_raw(path).value());
    const std::size_t node = debug.find(id + ": INode {");
    const std::size_t at = debug.find("flag: ", node) + 6;
    return std::stoi(debug.substr(at));
  }
  std::string contents(const char* path) {
    FileHandle reader = open(path, "r");
    return text(reader.read_up_to(kMaxWord).value());
  }

  std::shared_ptr<FileSystem> fs_ = std::make_shared<FileSystem>();
};

TEST_F(FsHandle, LockProtocol) {
  FileHandle r1 = open("/f", "r");
  FileHandle r2 = open("/f", "r");
  EXPECT_EQ(flag("/f"), 2);
  for (const char* conflicting : {"w", "rw", "wr"}) {
    EXPECT_EQ(FileSystem::open(fs_, "/f", mode(conflicting), true).error(),
              IoErrorKind::ResourceCurrentInUse);
  }
  ASSERT_TRUE(r1.close());
  ASSERT_TRUE(r2.close());
  EXPECT_EQ(flag("/f"), 0);
  FileHandle w = open("/f", "w");
  EXPECT_EQ(flag("/f"), FileLock::WRITE_EXCLUSIVE);
  for (const char* conflicting : {"r", "", "w", "rw"}) {
    EXPECT_EQ(FileSystem::open(fs_, "/f", mode(conflicting), true).error(),
              IoErrorKind::ResourceCurrentInUse);
  }
  EXPECT_EQ(fs_->rm("/f", false).error(), IoErrorKind::ResourceCurrentInUse);
  { FileHandle dropped = std::move(w); }  // destroyed unclosed: gives the lock back
  EXPECT_EQ(flag("/f"), 0);
  FileHandle none = open("/f", "");
  EXPECT_EQ(flag("/f"), 1);
  EXPECT_EQ(fs_->rm("/f", true).error(), IoErrorKind::ResourceCurrentInUse);
  ASSERT_TRUE(none.close());
  ASSERT_TRUE(fs_->rm("/f", false));
}

TEST_F(FsHandle, OpeningFailures) {
  ASSERT_TRUE(fs_->mkdir("/docs"));
  EXPECT_EQ(FileSystem::open(fs_, "/missing", mode("r"), false).error(),
            IoErrorKind::InodeNotFound);
  EXPECT_EQ(FileSystem::open(fs_, "/nodir/f", mode("r"), true).error(),
            IoErrorKind::InodeNotFound);
  for (const char* directory : {"/docs", "/docs/", "/", "/docs/.", "/docs/.."}) {
    EXPECT_EQ(FileSystem::open(fs_, directory, mode("r"), true).error(), IoErrorKind::NotAFile)
        << directory;
  }
  EXPECT_EQ(FileSystem::open_raw(fs_, fs_->get_inode_by_path_raw("/docs").value(), mode("r"))
                .error(),
            IoErrorKind::NotAFile);
  EXPECT_EQ(FileSystem::open_raw(fs_, 77, mode("r")).error(), IoErrorKind::InodeNotFound);
  ASSERT_TRUE(fs_->touch("/g"));
  EXPECT_EQ(FileSystem::open(fs_, "/g/h", mode("r"), true).error(), IoErrorKind::NotADirectory);
  EXPECT_EQ(fs_.use_count(), 1);  // failed openings keep no reference
  IoResult<FileHandle> created = FileSystem::open(fs_, "\\docs\\new", mode(""), true);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->id(), fs_->get_inode_by_path_raw("/docs/new").value());
}

TEST_F(FsHandle, ReadWriteSeek) {
  FileHandle handle = open("/f", "rw");
  EXPECT_EQ(handle.write(bytes("hello")), 5u);
  EXPECT_EQ(handle.offset(), 0u);
  std::vector<std::uint8_t> buffer(10, 0xAA);
  EXPECT_EQ(handle.read(buffer), 5u);
  EXPECT_EQ(text({buffer.begin(), buffer.begin() + 5}), "hello");
  EXPECT_EQ(buffer[5], 0xAA);
  EXPECT_EQ(handle.offset(), 5u);
  EXPECT_EQ(handle.read(buffer), 0u);

  const struct {
    SeekOrigin origin;
    std::size_t offset;
    std::size_t from;
    std::size_t expected;
  } seeks[] = {
      {SeekOrigin::Start, 9, 0, 5},       {SeekOrigin::Start, 2, 5, 2},
      {SeekOrigin::End, 2, 0, 3},         {SeekOrigin::End, 9, 4, 0},
      {SeekOrigin::End, 0, 0, 5},         {SeekOrigin::Current, 1, 3, 4},
      {SeekOrigin::Current, kMaxWord, 3, 5}, {SeekOrigin::Start, kMaxWord, 0, 5},
  };
  for (const auto& seek : seeks) {
    ASSERT_TRUE(handle.seek(SeekOrigin::Start, seek.from));
    ASSERT_TRUE(handle.seek(seek.origin, seek.offset));
    EXPECT_EQ(handle.offset(), seek.expected);
  }
  ASSERT_TRUE(handle.seek(SeekOrigin::Start, 0));
  ASSERT_TRUE(handle.write(bytes("abc")));
  ASSERT_TRUE(handle.write(bytes("XY")));
  EXPECT_EQ(text(handle.read_up_to(100).value()), "XYclo");
  ASSERT_TRUE(handle.seek(SeekOrigin::Start, 2));
  ASSERT_TRUE(handle.write(bytes("123456")));
  ASSERT_TRUE(handle.seek(SeekOrigin::End, 0));
  EXPECT_EQ(handle.offset(), 8u);
  ASSERT_TRUE(handle.close());
  EXPECT_EQ(contents("/f"), "XY123456");
}

TEST_F(FsHandle, ReadUpToAllocatesOnlyWhatIsLeft) {
  {
    FileHandle writer = open("/f", "w");
    ASSERT_TRUE(writer.write(std::vector<std::uint8_t>(100, 7)));  // spills past inline
  }
  FileHandle reader = open("/f", "r");
  ASSERT_TRUE(reader.seek(SeekOrigin::Start, 95));
  std::vector<std::uint8_t> tail = reader.read_up_to(kMaxWord).value();
  EXPECT_EQ(tail.size(), 5u);
  EXPECT_LE(tail.capacity(), 5u);
  EXPECT_TRUE(reader.read_up_to(kMaxWord).value().empty());
  ASSERT_TRUE(reader.seek(SeekOrigin::Start, 0));
  EXPECT_EQ(reader.read_up_to(3).value().size(), 3u);
  EXPECT_EQ(reader.offset(), 3u);
}

TEST_F(FsHandle, ModesRefuseOperations) {
  FileHandle none = open("/f", "");
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(none.read(buffer).error(), IoError::operation_not_supported("read"));
  EXPECT_EQ(none.read_up_to(4).error(), IoError::operation_not_supported("read"));
  EXPECT_EQ(none.write(bytes("x")).error(), IoError::operation_not_supported("write"));
  EXPECT_TRUE(none.seek(SeekOrigin::End, 0));
  ASSERT_TRUE(none.close());
  FileHandle reader = open("/f", "r");
  EXPECT_EQ(reader.write(bytes("x")).error(), IoError::operation_not_supported("write"));
  ASSERT_TRUE(reader.close());
  FileHandle writer = open("/f", "w");
  EXPECT_EQ(writer.read(buffer).error(), IoError::operation_not_supported("read"));
}

TEST_F(FsHandle, ClosedHandle) {
  FileHandle handle = open("/f", "rw");
  ASSERT_TRUE(handle.close());
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(handle.close().error(), IoErrorKind::InvalidFileDescriptor);
  EXPECT_EQ(handle.read(buffer).error(), IoErrorKind::InvalidFileDescriptor);
  EXPECT_EQ(handle.read_up_to(4).error(), IoErrorKind::InvalidFileDescriptor);
  EXPECT_EQ(handle.write(bytes("x")).error(), IoErrorKind::InvalidFileDescriptor);
  EXPECT_EQ(handle.seek(SeekOrigin::Start, 0).error(), IoErrorKind::InvalidFileDescriptor);
  EXPECT_FALSE(handle.id().has_value());
}

TEST_F(FsHandle, DebugText) {
  const std::string empty_fs = fs_->debug();
  ASSERT_TRUE(fs_->touch("/f"));
  FileHandle reader = open("/f", "r");
  EXPECT_EQ(reader.debug(), "FileHandle { id: Some(1), type: FileHandleType(READ), fs: " +
                                fs_->debug() + ", offset: 0 }");
  ASSERT_TRUE(reader.close());
  FileHandle both = open("/f", "rw");
  ASSERT_TRUE(both.close());
  EXPECT_EQ(both.debug(), "FileHandle { id: None, type: FileHandleType(READ | WRITE), fs: " +
                              fs_->debug() + ", offset: 0 }");
  EXPECT_NE(fs_->debug().find("File { data: FileData { data: [] }, lock: FileLock { flag: 0 } }"),
            std::string::npos);
}

// Opening finds the name under the directory the parent path leads to,
// whichever way it gets there: "..", ".", backslashes or a link.
TEST_F(FsHandle, OpensUnderTheParentThePathReaches) {
  ASSERT_TRUE(fs_->mkdir("/a"));
  ASSERT_TRUE(fs_->mkdir("/a/b"));
  const InodeId b = fs_->get_inode_by_path_raw("/a/b").value();
  // A link is listed under its target's name: "/b" leads to "/a/b".
  ASSERT_TRUE(fs_->create_inode(0, "b", INodeKind::symlink(b)));
  for (const char* path :
       {"/a/b/f", "/a/b/../b/f", "/a/./b/f", "\\a\\b\\f", "/b/f", "/b/../b/f"}) {
    // The first path creates the file; every other one opens that same file.
    IoResult<FileHandle> handle = FileSystem::open(fs_, path, mode("r"), true);
    ASSERT_TRUE(handle) << path;
    EXPECT_EQ(handle->id(), fs_->find_inode_by_name(b, "f").value()) << path;
    ASSERT_TRUE(handle->close());
  }
  // A new name under a parent reached through the link lands in the target.
  ASSERT_TRUE(FileSystem::open(fs_, "/b/g", mode("w"), true));
  EXPECT_TRUE(fs_->find_inode_by_name(b, "g"));
  for (const char* missing : {"/b/nope", "/a/b/../nope"}) {
    EXPECT_EQ(FileSystem::open(fs_, missing, mode("r"), false).error(), IoErrorKind::InodeNotFound)
        << missing;
  }
  EXPECT_EQ(FileSystem::open(fs_, "/b/f/x", mode("r"), true).error(),
            IoErrorKind::NotADirectory);
}

TEST(FsFileLock, StatesAndBrokenReleases) {
  FileLock lock;
  auto message_of = [](auto&& action) {
    try {
      action();
    } catch (const InternalFailure& failure) {
      return std::string(failure.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(message_of([&] { lock.release_write(); }),
            "assertion failed: self.flag.load(Ordering::Acquire) == FileLock::WRITE_EXCLUSIVE");
  EXPECT_EQ(message_of([&] { lock.release_read(); }), "assertion failed: flag > 0");
  ASSERT_TRUE(lock.try_acquire_read());
  EXPECT_EQ(message_of([&] { lock.release_write(); }),
            "assertion failed: self.flag.load(Ordering::Acquire) == FileLock::WRITE_EXCLUSIVE");
  EXPECT_FALSE(lock.try_acquire_write());
  EXPECT_FALSE(lock.try_claim_for_removal());
  lock.release_read();
  ASSERT_TRUE(lock.try_acquire_write());
  EXPECT_EQ(message_of([&] { lock.release_read(); }), "assertion failed: flag > 0");
  EXPECT_FALSE(lock.try_acquire_read());
  lock.release_write();
  ASSERT_TRUE(lock.try_claim_for_removal());
  EXPECT_EQ(lock.flag(), FileLock::CLAIMED_BY_REMOVAL);
  EXPECT_FALSE(lock.try_acquire_read());
  EXPECT_FALSE(lock.try_acquire_write());
}

TEST(FsWriteRange, OverflowIsRefused) {
  EXPECT_EQ(write_end(3, 5, kMaxWord), 8u);
  EXPECT_EQ(write_end(kMaxWord, 0, kMaxWord), kMaxWord);
  EXPECT_EQ(write_end(kMaxWord, 1, kMaxWord).error(), kWriteBeyondLimit);
  EXPECT_EQ(write_end(1, kMaxWord, kMaxWord).error(), kWriteBeyondLimit);
  EXPECT_EQ(write_end(10, 10, 15).error(), kWriteBeyondLimit);
  EXPECT_EQ(kWriteBeyondLimit.display(),
            "File does not support the specified operation: write beyond the largest file size");
}

}  // namespace
}  // namespace sandrig::fs
