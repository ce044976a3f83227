// Fetching the memory of the next listings while the caller works.
//
// A cold listing waits on memory three times over, each read depending on
// the one before: the directory's node, its entry array, the nodes in that
// array. Between two listings the caller spends far longer than those
// waits (building the names' objects), so each listing starts one stage of
// the listings after it, and by their turn their lines are cached.
#include "fs/listing_lookahead.h"

#include <optional>

#include "fs/directory.h"
#include "fs/inode.h"

namespace sandrig::fs {
namespace {

// How many siblings ahead each stage works: the node is fetched first, its
// entry array one listing later, once the node is cached, and the entries
// one listing after that, once the array is.
constexpr std::size_t kNodeAhead = 3;
constexpr std::size_t kSlotsAhead = 2;
constexpr std::size_t kEntriesAhead = 1;

// Calls `fetch` with the directory `siblings[at]`, under a read hold of its
// payload taken without waiting; nothing for a hole, a non-directory, a
// payload a writer holds or one left poisoned. The nodes are alive: the
// caller's directory lists them.
template <typename Fetch>
void with_directory_at(std::span<const INode* const> siblings, std::size_t at, Fetch&& fetch) {
  if (at >= siblings.size()) return;
  const INode* node = siblings[at];
  if (node == nullptr || node->tag() != INodeTag::Directory) return;
  if (const std::optional<ReadGuard<INodeKind>> data = node->try_read()) {
    fetch(*(*data)->as_directory());
  }
}

}  // namespace

void fetch_next_listings(std::span<const INode* const> siblings, std::size_t listed) {
  // Its tag is not read: the node is not cached yet.
  if (listed + kNodeAhead < siblings.size() && siblings[listed + kNodeAhead] != nullptr) {
    siblings[listed + kNodeAhead]->prefetch_whole();
  }
  with_directory_at(siblings, listed + kSlotsAhead,
                    [](const Directory& directory) { directory.prefetch_slots(); });
  with_directory_at(siblings, listed + kEntriesAhead,
                    [](const Directory& directory) { directory.prefetch_listed_entries(); });
}

}  // namespace sandrig::fs
