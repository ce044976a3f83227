#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "fs/error.h"

namespace sandrig::fs {

// The error of a write that would end beyond the largest file size: the
// end position would overflow the machine word (or exceed what one
// allocation can hold). It is an OperationNotSupported whose operation text
// says why, so it is not mistaken for the refusal of a handle without write
// access ("write").
inline constexpr IoError kWriteBeyondLimit =
    IoError::operation_not_supported("write beyond the largest file size");

// The end position of writing `count` bytes at `offset`, or kWriteBeyondLimit
// when it would exceed `limit`.
constexpr IoResult<std::size_t> write_end(std::size_t offset, std::size_t count,
                                          std::size_t limit) {
  if (offset > limit || count > limit - offset) return std::unexpected(kWriteBeyondLimit);
  return offset + count;
}

}  // namespace sandrig::fs
