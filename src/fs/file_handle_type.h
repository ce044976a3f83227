#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fs/error.h"

namespace sandrig::fs {

// The open mode of a file handle: a set of the READ and WRITE flags.
class FileHandleType {
 public:
  static constexpr std::uint8_t EMPTY = 0;
  static constexpr std::uint8_t READ = 1;
  static constexpr std::uint8_t WRITE = 2;

  constexpr FileHandleType() = default;
  constexpr explicit FileHandleType(std::uint8_t bits) : bits_(bits) {}

  // Parses "", "r", "w", "rw" or "wr"; anything else is UnrecognizedFileMode.
  static IoResult<FileHandleType> from_str(std::string_view text);

  // True when every flag of `flags` is set.
  constexpr bool contains(std::uint8_t flags) const { return (bits_ & flags) == flags; }
  // The raw flag bits.
  constexpr std::uint8_t bits() const { return bits_; }
  // "FileHandleType(READ | WRITE)", or "FileHandleType(0x0)" when empty.
  std::string debug() const;

  friend constexpr bool operator==(FileHandleType, FileHandleType) = default;

 private:
  std::uint8_t bits_ = EMPTY;
};

}  // namespace sandrig::fs
