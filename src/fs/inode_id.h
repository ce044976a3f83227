#pragma once

#include <cstdint>

namespace sandrig::fs {

// Names one node of a FileSystem; the root is 0 and ids are never reused.
using InodeId = std::uint64_t;

// The id of the root directory, which is its own parent.
inline constexpr InodeId kRootId = 0;

// The deepest level a node may lie at; the root is depth 0.
inline constexpr std::size_t kMaxDepth = 64;

}  // namespace sandrig::fs
