#include "fs/inode.h"

#include <utility>

#include "common/internal_failure.h"
#include "common/poisoned_lock.h"
#include "fs/internal/prefetch_range.h"

namespace sandrig::fs {

static_assert(kMaxDepth <= UINT8_MAX);

INode::INode(InodeId id, InodeId parent, std::size_t depth, std::string_view name, INodeKind kind)
    : id_(id),
      parent_(parent),
      name_(name),
      depth_(static_cast<std::uint8_t>(depth)),
      tag_(kind.tag()),
      kind_(std::move(kind)) {
  if (depth > kMaxDepth) fail("node deeper than the depth limit");
}

void INode::poisoned() { fail(kPoisonedLock); }

WriteGuard<INodeKind> INode::write() const {
  lock_.lock();
  if (lock_.is_poisoned()) {
    lock_.unlock();
    fail(kPoisonedLock);
  }
  return WriteGuard<INodeKind>(lock_, kind_);
}

void INode::prefetch_whole() const {
  __builtin_prefetch(&lock_, 1);
  prefetch_range(this, sizeof(INode));
}

std::optional<ReadGuard<INodeKind>> INode::try_read() const {
  if (!lock_.try_lock_shared()) return std::nullopt;
  ReadGuard<INodeKind> guard(lock_, kind_);
  if (lock_.is_poisoned()) return std::nullopt;  // the guard leaves
  return guard;
}

bool INode::try_claim_file() const {
  if (lock_.is_poisoned()) poisoned();
  const File* file = kind_.as_file();
  return file != nullptr && file->lock.try_claim_for_removal();
}

void INode::free_file_bytes() {
  if (File* file = kind_.as_file()) file->data = FileData{};
}

void INode::prefetch_file_bytes() const {
  const File* file = kind_.as_file();
  const std::uint8_t* block = file == nullptr ? nullptr : file->data.data.heap_block();
  // An allocator keeps a block's size and links just before it, and a free
  // reads and writes them; files written one after another lie a block
  // apart, too far for the processor to guess.
  if (block != nullptr) __builtin_prefetch(block - 2 * sizeof(std::size_t), 1);
}

void INode::write_debug(DebugWriter& out) const {
  out.begin_record("INode");
  out.field("id").number(id_);
  out.field("parent").number(parent_);
  out.field("depth").number(depth_);
  out.field("name").quoted(name_.view());
  out.field("data").begin_record("RwLock").field("data");
  if (lock_.try_lock_shared()) {
    ReadGuard<INodeKind> guard(lock_, kind_);
    guard->write_debug(out);
  } else {
    out.raw("<locked>");
  }
  out.field("poisoned").boolean(lock_.is_poisoned());
  out.end_record(/*non_exhaustive=*/true);
  out.end_record();
}

}  // namespace sandrig::fs
