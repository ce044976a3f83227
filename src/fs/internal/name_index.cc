#include "fs/internal/name_index.h"

#include <cstring>

#include "common/internal_failure.h"

namespace sandrig::fs {

std::uint32_t NameIndex::hash(std::string_view name) {
  // A multiply-xorshift over eight bytes at a time: names are short.
  std::uint64_t h = 0x243F6A8885A308D3ull ^ name.size();
  std::size_t at = 0;
  for (; at + 8 <= name.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, name.data() + at, 8);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  if (at < name.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, name.data() + at, name.size() - at);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  h *= 0xBF58476D1CE4E5B9ull;
  return static_cast<std::uint32_t>(h >> 32);
}

unsigned NameIndex::bits_for(std::size_t entries) {
  unsigned bits = 4;
  // At most half full after a rebuild, so growth is amortized.
  while ((std::size_t{1} << bits) < entries * 2) {
    ++bits;
    if (bits >= 31) fail("too many entries for one directory");
  }
  return bits;
}

NameIndex::NameIndex(unsigned bits)
    : bits_(bits),
      slots_(std::make_unique<std::uint32_t[]>(std::size_t{1} << bits)),
      tags_(std::make_unique<std::uint8_t[]>(std::size_t{1} << bits)) {}

void NameIndex::insert(std::uint32_t hash, std::uint32_t slot) {
  if (slot >= kTombstone - 1) fail("too many entries for one directory");
  const std::size_t mask = capacity() - 1;
  std::size_t at = hash & mask;
  while (slots_[at] != kEmpty) at = (at + 1) & mask;
  slots_[at] = slot + 1;
  tags_[at] = tag_of(hash);
  ++used_;
}

bool NameIndex::erase(std::uint32_t hash, std::uint32_t slot) {
  const std::size_t mask = capacity() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const std::uint32_t value = slots_[at];
    if (value == kEmpty) return false;
    if (value == slot + 1) {
      slots_[at] = kTombstone;  // still counted in used_ until a rebuild
      return true;
    }
  }
}

void NameIndex::renumber(std::span<const std::uint32_t> moved_to) {
  for (std::size_t at = 0; at < capacity(); ++at) {
    const std::uint32_t value = slots_[at];
    if (value != kEmpty && value != kTombstone) slots_[at] = moved_to[value - 1] + 1;
  }
}

}  // namespace sandrig::fs
