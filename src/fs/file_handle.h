#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/debug_writer.h"
#include "fs/error.h"
#include "fs/file_handle_type.h"
#include "fs/inode_id.h"
#include "fs/seek_origin.h"

namespace sandrig::fs {

class FileSystem;
class INode;

// An open regular file: the node id, the open mode and a byte position.
// While open it holds a share of the file's lock; it keeps its filesystem
// alive until destroyed. Moved, never copied; one thread at a time.
class FileHandle {
 public:
  // Takes a reader's or the writer's share of the file's lock.
  static IoResult<FileHandle> create(std::shared_ptr<FileSystem> fs, InodeId id,
                                     FileHandleType mode);
  // create() for a caller that holds the entry guard of `node`, the node
  // `id` resolves to.
  static IoResult<FileHandle> open_on(std::shared_ptr<FileSystem> fs, InodeId id,
                                      const INode& node, FileHandleType mode);

  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  // Closes the handle if still open; a failure of that close is swallowed
  // (callers that must report it call close() themselves first).
  ~FileHandle();

  // Copies up to buffer.size() bytes from the position; returns the count.
  IoResult<std::size_t> read(std::span<std::uint8_t> buffer);
  // Reads up to `max` bytes, allocating no more than the bytes left.
  IoResult<std::vector<std::uint8_t>> read_up_to(std::size_t max);
  // Writes all bytes at the position (growing the file); the position stays.
  // A write that would end past the largest file size (offset + count
  // overflowing the machine word, or beyond one allocation) fails with
  // kWriteBeyondLimit of fs/internal/write_range.h, an OperationNotSupported naming
  // "write beyond the largest file size", and changes nothing.
  IoResult<std::size_t> write(std::span<const std::uint8_t> bytes);
  // Moves the position, clamped to the file's length.
  IoResult<void> seek(SeekOrigin origin, std::size_t offset);
  // Gives back the lock share; throws InternalFailure if the lock is broken.
  IoResult<void> close();

  // The node id while open; empty after close.
  std::optional<InodeId> id() const { return id_; }
  // The mode the handle was opened with.
  FileHandleType type() const { return type_; }
  // The position of the next read or write.
  std::size_t offset() const { return offset_; }

  // Writes `FileHandle { id: Some(1), type: ..., fs: ..., offset: 0 }`.
  void write_debug(DebugWriter& out) const;
  // The debug text of the handle.
  std::string debug() const;

 private:
  FileHandle(std::shared_ptr<FileSystem> fs, InodeId id, FileHandleType mode);
  // Closes an open handle, swallowing every failure (destructor, move).
  void close_quietly() noexcept;
  // Shared steps of the reads: checks the handle, then calls `take` with the
  // bytes from the position to the end under the node's read lock; `take`
  // returns how many it consumed, and the position moves by that many.
  template <typename Take>
  IoResult<std::size_t> read_remaining(Take take);
  // Shared steps of read, seek and close: checks that the handle is open and
  // its node is a file, then returns `use(file)` under the node's read lock.
  template <typename Use>
  auto with_file(Use use);

  std::optional<InodeId> id_;
  FileHandleType type_;
  std::shared_ptr<FileSystem> fs_;
  std::size_t offset_ = 0;
};

}  // namespace sandrig::fs
