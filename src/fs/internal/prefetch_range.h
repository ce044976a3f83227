#pragma once

#include <cstddef>
#include <cstdint>

namespace sandrig::fs {

// Starts fetching every cache line of the `size` bytes at `begin`. A fetch
// never faults, so a stale range costs only the memory traffic.
inline void prefetch_range(const void* begin, std::size_t size) {
  constexpr std::uintptr_t kLine = 64;
  if (size == 0) return;
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(begin) & ~(kLine - 1);
  const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(begin) + size - 1;
  for (std::uintptr_t line = first; line <= last; line += kLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
  }
}

}  // namespace sandrig::fs
