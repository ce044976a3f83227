// Fuzzes sequences of filesystem operations, one byte-coded operation after
// another, against a model of the open handles and the file contents;
// the tree's invariants are checked after every step.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_handle.h"
#include "fs/file_handle_type.h"
#include "fs/file_system.h"
#include "fs/seek_origin.h"
#include "fs/tree_rendering.h"
#include "tree_invariants.h"

namespace {

using sandrig::fs::FileHandle;
using sandrig::fs::FileHandleType;
using sandrig::fs::FileSystem;
using sandrig::fs::InodeId;
using sandrig::fuzz::require;

// Reads the input a byte at a time; zeros once it is used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return position_ >= size_; }
  std::uint8_t byte() { return done() ? 0 : data_[position_++]; }
  std::vector<std::uint8_t> bytes(std::size_t count) {
    std::vector<std::uint8_t> out;
    while (count-- > 0 && !done()) out.push_back(byte());
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// A path over a few names, so that operations meet each other's nodes.
std::string path_from(Input& in) {
  static const char* const kNames[] = {"a", "b", "c", ".", "..", "", "long-name-0123456789"};
  std::uint8_t shape = in.byte();
  std::string path = (shape & 0x80) != 0 ? "/" : "";
  std::size_t components = shape % 4;
  for (std::size_t i = 0; i < components; ++i) {
    if (i > 0) path += (shape & 0x40) != 0 ? "\\" : "/";
    path += kNames[in.byte() % std::size(kNames)];
  }
  return path;
}

struct OpenHandle {
  FileHandle handle;
  InodeId id;
  bool writes;
};

class Model {
 public:
  explicit Model(std::shared_ptr<FileSystem> fs) : fs_(std::move(fs)) {}

  void step(Input& in) {
    switch (in.byte() % 12) {
      case 0: (void)fs_->mkdir(path_from(in)); break;
      case 1: (void)fs_->touch(path_from(in)); break;
      case 2: open(in); break;
      case 3: read(in); break;
      case 4: write(in); break;
      case 5: seek(in); break;
      case 6: close(in); break;
      case 7: remove(in); break;
      case 8: list(in); break;
      case 9: render(in); break;
      case 10: drop(in); break;
      default: (void)fs_->debug(); break;
    }
    sandrig::fuzz::check_tree_invariants(*fs_, lock_flags());
  }

 private:
  OpenHandle* pick(Input& in) {
    if (handles_.empty()) return nullptr;
    return &handles_[in.byte() % handles_.size()];
  }

  std::vector<std::uint8_t>& content(InodeId id) { return contents_[id]; }

  void open(Input& in) {
    std::string path = path_from(in);
    std::uint8_t bits = in.byte();
    FileHandleType mode(bits % 4);
    auto opened = FileSystem::open(fs_, path, mode, (bits & 4) != 0);
    if (!opened) return;
    auto id = opened->id();
    require(id.has_value(), "an opened handle has an id");
    const bool writes = mode.contains(FileHandleType::WRITE);
    for (const OpenHandle& other : handles_) {
      if (other.handle.id() && other.id == *id) {
        require(!writes && !other.writes, "a writer excludes every other handle");
      }
    }
    handles_.push_back(OpenHandle{std::move(*opened), *id, writes});
  }

  void read(Input& in) {
    OpenHandle* open = pick(in);
    std::size_t limit = in.byte();
    if (open == nullptr) return;
    const std::size_t before = open->handle.offset();
    auto data = open->handle.read_up_to(limit);
    if (!data) return;
    require(open->handle.id().has_value(), "a closed handle does not read");
    const auto& bytes = content(open->id);
    const std::size_t start = std::min(before, bytes.size());
    const std::size_t count = std::min(limit, bytes.size() - start);
    require(data->size() == count, "a read returns what the file holds");
    require(std::equal(data->begin(), data->end(), bytes.begin() + static_cast<std::ptrdiff_t>(start)),
            "a read returns the file's bytes");
    require(open->handle.offset() == start + count, "a read moves the position");
  }

  void write(Input& in) {
    OpenHandle* open = pick(in);
    std::vector<std::uint8_t> bytes = in.bytes(in.byte() % 16);
    if (open == nullptr) return;
    const std::size_t offset = open->handle.offset();
    auto written = open->handle.write(bytes);
    const bool may = open->handle.id().has_value() && open->writes;
    require(written.has_value() == may, "a write succeeds exactly on an open writer");
    if (!written) return;
    require(*written == bytes.size(), "a write takes every byte");
    auto& data = content(open->id);
    require(offset <= data.size(), "the position lies within the file");
    if (data.size() < offset + bytes.size()) data.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    require(open->handle.offset() == offset, "a write keeps the position");
  }

  void seek(Input& in) {
    OpenHandle* open = pick(in);
    const std::uint8_t code = in.byte();
    const std::uint8_t origin = code % 3;
    std::size_t offset = in.byte();
    if ((code & 0x80) != 0) offset = ~std::size_t{0} - offset;  // near the largest size
    if (open == nullptr) return;
    auto moved = open->handle.seek(static_cast<sandrig::fs::SeekOrigin>(origin), offset);
    if (!moved) return;
    require(open->handle.offset() <= content(open->id).size(), "a seek stays within the file");
  }

  void close(Input& in) {
    OpenHandle* open = pick(in);
    if (open == nullptr) return;
    const bool was_open = open->handle.id().has_value();
    auto closed = open->handle.close();
    require(closed.has_value() == was_open, "close succeeds exactly on an open handle");
    require(!open->handle.id().has_value(), "a closed handle has no id");
  }

  void drop(Input& in) {
    if (handles_.empty()) return;
    handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(in.byte() % handles_.size()));
  }

  void remove(Input& in) {
    std::string path = path_from(in);
    const bool recursive = (in.byte() & 1) != 0;
    auto id = fs_->get_inode_by_path_raw(path);
    if (!fs_->rm(path, recursive)) return;
    require(id.has_value() && *id != sandrig::fs::kRootId, "only an existing non-root node goes");
    for (const OpenHandle& open : handles_) {
      require(!open.handle.id() || open.id != *id, "a file with open handles stays");
    }
  }

  void list(Input& in) {
    auto id = fs_->get_inode_by_path_raw(path_from(in));
    if (!id) return;
    auto listing = fs_->ls_raw(*id);
    if (!listing) return;
    for (const std::string& name : listing->directories) {
      auto child = fs_->find_inode_by_name(*id, name);
      require(child.has_value(), "a listed directory is found by name");
      require(fs_->is_directory_raw(*child).value_or(false), "a listed directory is one");
    }
  }

  void render(Input& in) {
    std::string path = path_from(in);
    auto tree = sandrig::fs::render_tree(*fs_, path, "");
    auto id = fs_->get_inode_by_path_raw(path);
    auto listing = id ? fs_->ls_raw(*id) : sandrig::fs::fail_with(id.error());
    require(tree.has_value() == listing.has_value(), "a tree renders exactly a directory");
    if (tree && listing) {
      require(tree->empty() == (listing->files.empty() && listing->directories.empty()),
              "an empty directory renders as the empty text");
    }
  }

  std::map<InodeId, std::int32_t> lock_flags() const {
    std::map<InodeId, std::int32_t> flags;
    for (const OpenHandle& open : handles_) {
      if (!open.handle.id()) continue;
      std::int32_t& flag = flags[open.id];
      flag = open.writes ? -1 : flag + 1;
    }
    return flags;
  }

  std::shared_ptr<FileSystem> fs_;
  std::vector<OpenHandle> handles_;
  std::map<InodeId, std::vector<std::uint8_t>> contents_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Model model(std::make_shared<FileSystem>());
  for (int steps = 0; !in.done() && steps < 256; ++steps) model.step(in);
  return 0;
}
