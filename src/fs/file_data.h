#pragma once

#include <cstdint>

#include "common/debug_writer.h"
#include "fs/internal/small_vector.h"

namespace sandrig::fs {

// The bytes of a regular file; up to 32 of them live inside the node.
struct FileData {
  SmallVector<std::uint8_t, 32> data;

  // Writes `FileData { data: [1, 2] }`.
  void write_debug(DebugWriter& out) const;
};

}  // namespace sandrig::fs
