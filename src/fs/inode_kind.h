#pragma once

#include <cstdint>
#include <utility>
#include <variant>

#include "common/debug_writer.h"
#include "fs/directory.h"
#include "fs/file_data.h"
#include "fs/file_lock.h"
#include "fs/inode_id.h"

namespace sandrig::fs {

// A regular file: its bytes and the share held by open handles.
struct File {
  FileData data;
  FileLock lock;
};

// A link to another node, followed by every lookup.
struct Symlink {
  InodeId target = kRootId;
};

// Which variant an INodeKind holds; fixed for the life of a node.
enum class INodeTag : std::uint8_t { File = 0, Directory = 1, Symlink = 2 };

// The kind and payload of a node: File, Directory or Symlink.
class INodeKind {
 public:
  // An empty regular file, free of handles.
  static INodeKind file() { return INodeKind(std::in_place_type<File>); }
  // A directory without entries.
  static INodeKind directory() { return INodeKind(std::in_place_type<Directory>); }
  // A link to `target`.
  static INodeKind symlink(InodeId target) {
    return INodeKind(std::in_place_type<Symlink>, target);
  }

  INodeKind(INodeKind&&) noexcept = default;
  INodeKind& operator=(INodeKind&&) = delete;

  // Which variant this is.
  INodeTag tag() const { return static_cast<INodeTag>(value_.index()); }

  // The payload of the variant; null when the kind differs.
  File* as_file() { return std::get_if<File>(&value_); }
  const File* as_file() const { return std::get_if<File>(&value_); }
  Directory* as_directory() { return std::get_if<Directory>(&value_); }
  const Directory* as_directory() const { return std::get_if<Directory>(&value_); }
  const Symlink* as_symlink() const { return std::get_if<Symlink>(&value_); }

  // Writes `File { data: ..., lock: ... }`, `Directory { children: [...] }`
  // or `Symlink { target: N }`.
  void write_debug(DebugWriter& out) const;

 private:
  using Value = std::variant<File, Directory, Symlink>;
  template <typename T, typename... Args>
  explicit INodeKind(std::in_place_type_t<T> type, Args&&... args)
      : value_(type, std::forward<Args>(args)...) {}

  Value value_;
};

}  // namespace sandrig::fs
