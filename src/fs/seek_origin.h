#pragma once

#include <cstdint>

namespace sandrig::fs {

// Where a seek counts from: the start, back from the end, or forward from
// the current position. Offsets are never negative.
enum class SeekOrigin : std::uint8_t { Start = 0, End = 1, Current = 2 };

}  // namespace sandrig::fs
