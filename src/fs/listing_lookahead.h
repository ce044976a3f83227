#pragma once

#include <cstddef>
#include <span>

namespace sandrig::fs {

class INode;

// Starts fetching what listings of the directories listed after
// `siblings[listed]` will read, in stages over the next three listings,
// for a caller that lists siblings in turn (a walk over a tree lists the
// directories in the order their parent's listing gave them). `siblings`
// are the slots of a directory whose payload the caller read-locks; holes
// (null) and non-directories are skipped.
void fetch_next_listings(std::span<const INode* const> siblings, std::size_t listed);

}  // namespace sandrig::fs
