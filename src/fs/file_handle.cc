#include "fs/file_handle.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"
#include "fs/internal/write_range.h"

namespace sandrig::fs {

FileHandle::FileHandle(std::shared_ptr<FileSystem> fs, InodeId id, FileHandleType mode)
    : id_(id), type_(mode), fs_(std::move(fs)) {}

IoResult<FileHandle> FileHandle::create(std::shared_ptr<FileSystem> fs, InodeId id,
                                        FileHandleType mode) {
  if (fs == nullptr) return fail_with(IoErrorKind::InodeNotFound);
  const EntryGuard entry = SANDRIG_TRY(fs->resolve(id));
  return open_on(std::move(fs), id, *entry, mode);
}

IoResult<FileHandle> FileHandle::open_on(std::shared_ptr<FileSystem> fs, InodeId id,
                                         const INode& node, FileHandleType mode) {
  {
    const ReadGuard<INodeKind> data = node.read();
    const File* file = data->as_file();
    if (file == nullptr) return fail_with(IoErrorKind::NotAFile);
    const bool taken = mode.contains(FileHandleType::WRITE) ? file->lock.try_acquire_write()
                                                           : file->lock.try_acquire_read();
    if (!taken) return fail_with(IoErrorKind::ResourceCurrentInUse);
  }
  return FileHandle(std::move(fs), id, mode);
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : id_(std::exchange(other.id_, std::nullopt)),
      type_(other.type_),
      fs_(std::move(other.fs_)),
      offset_(other.offset_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close_quietly();
    id_ = std::exchange(other.id_, std::nullopt);
    type_ = other.type_;
    fs_ = std::move(other.fs_);
    offset_ = other.offset_;
  }
  return *this;
}

FileHandle::~FileHandle() { close_quietly(); }

void FileHandle::close_quietly() noexcept {
  if (!id_) return;
  try {
    (void)close();
  } catch (...) {
    // A destructor must not throw; the lock stays as it was.
  }
}

template <typename Use>
auto FileHandle::with_file(Use use) {
  using Result = std::invoke_result_t<Use, const File&>;
  if (!id_) return Result(std::unexpected(IoError(IoErrorKind::InvalidFileDescriptor)));
  IoResult<EntryGuard> entry = fs_->resolve(*id_);
  if (!entry) return Result(std::unexpected(entry.error()));
  const ReadGuard<INodeKind> data = (*entry)->read();
  const File* file = data->as_file();
  if (file == nullptr) return Result(std::unexpected(IoError(IoErrorKind::NotAFile)));
  return use(*file);
}

template <typename Take>
IoResult<std::size_t> FileHandle::read_remaining(Take take) {
  if (id_ && !type_.contains(FileHandleType::READ)) {
    return fail_with(IoError::operation_not_supported("read"));
  }
  return with_file([&](const File& file) -> IoResult<std::size_t> {
    const std::span<const std::uint8_t> bytes = file.data.data.view();
    const std::size_t start = std::min(offset_, bytes.size());
    const std::size_t count = take(bytes.subspan(start));
    offset_ = start + count;
    return count;
  });
}

IoResult<std::size_t> FileHandle::read(std::span<std::uint8_t> buffer) {
  return read_remaining([&](std::span<const std::uint8_t> rest) {
    const std::size_t count = std::min(buffer.size(), rest.size());
    if (count > 0) std::memcpy(buffer.data(), rest.data(), count);
    return count;
  });
}

IoResult<std::vector<std::uint8_t>> FileHandle::read_up_to(std::size_t max) {
  std::vector<std::uint8_t> result;
  const IoResult<std::size_t> count = read_remaining([&](std::span<const std::uint8_t> rest) {
    result.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(std::min(max, rest.size())));
    return result.size();
  });
  SANDRIG_TRY(count);
  return result;
}

IoResult<std::size_t> FileHandle::write(std::span<const std::uint8_t> bytes) {
  if (!id_) return fail_with(IoErrorKind::InvalidFileDescriptor);
  if (!type_.contains(FileHandleType::WRITE)) {
    return fail_with(IoError::operation_not_supported("write"));
  }
  using Bytes = decltype(FileData::data);
  auto end = SANDRIG_TRY(write_end(offset_, bytes.size(), Bytes::max_size()));
  auto entry = SANDRIG_TRY(fs_->resolve(*id_));
  bool out_of_memory = false;
  {
    const WriteGuard<INodeKind> data = entry->write();
    File* file = data->as_file();
    if (file == nullptr) return fail_with(IoErrorKind::NotAFile);
    try {
      file->data.data.reserve(end);
    } catch (const std::bad_alloc&) {
      out_of_memory = true;  // rethrown below, once the file is unlocked
    }
    if (!out_of_memory) {
      file->data.data.grow_zeroed(end);
      if (!bytes.empty()) {
        std::memcpy(file->data.data.view().data() + offset_, bytes.data(), bytes.size());
      }
    }
  }
  // The file is untouched: it must not be left poisoned by a failed growth.
  if (out_of_memory) throw std::bad_alloc();
  return bytes.size();
}

IoResult<void> FileHandle::seek(SeekOrigin origin, std::size_t offset) {
  return with_file([&](const File& file) -> IoResult<void> {
    const std::size_t length = file.data.data.size();
    std::size_t target = 0;
    switch (origin) {
      case SeekOrigin::Start: target = offset; break;
      case SeekOrigin::End: target = offset > length ? 0 : length - offset; break;
      case SeekOrigin::Current:
        target = offset > std::numeric_limits<std::size_t>::max() - offset_
                     ? std::numeric_limits<std::size_t>::max()
                     : offset_ + offset;
        break;
    }
    offset_ = std::min(target, length);
    return {};
  });
}

IoResult<void> FileHandle::close() {
  return with_file([&](const File& file) -> IoResult<void> {
    if (type_.contains(FileHandleType::WRITE)) {
      file.lock.release_write();
    } else {
      file.lock.release_read();
    }
    id_.reset();
    return {};
  });
}

void FileHandle::write_debug(DebugWriter& out) const {
  out.begin_record("FileHandle").field("id");
  if (id_) {
    out.raw("Some(").number(*id_).raw(")");
  } else {
    out.raw("None");
  }
  out.field("type").raw(type_.debug());
  out.field("fs");
  if (fs_) {
    fs_->write_debug(out);
  } else {
    out.raw("None");  // only a handle whose contents were moved away
  }
  out.field("offset").number(offset_);
  out.end_record();
}

std::string FileHandle::debug() const { return DebugWriter::render(*this); }

}  // namespace sandrig::fs
