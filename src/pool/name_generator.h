#pragma once

#include <cstdint>
#include <string>

namespace sandrig::pool {

// xorshift128 state that turns into account names "test_" + 8 letters and
// digits. Every generator starts from the same seed, so every pool yields
// the same names in the same order.
class NameGenerator {
 public:
  NameGenerator() = default;

  // The next account name; advances the state.
  std::string next_name();

 private:
  std::uint32_t next_word();
  char next_char();

  // Sixteen bytes 0x2A read as four little-endian words.
  std::uint32_t x_ = 0x2A2A2A2A;
  std::uint32_t y_ = 0x2A2A2A2A;
  std::uint32_t z_ = 0x2A2A2A2A;
  std::uint32_t w_ = 0x2A2A2A2A;
};

}  // namespace sandrig::pool
