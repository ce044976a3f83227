#include "pool/name_generator.h"

#include <string_view>

namespace sandrig::pool {

namespace {
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kNameLength = 8;
}  // namespace

std::uint32_t NameGenerator::next_word() {
  const std::uint32_t t = x_ ^ (x_ << 11);
  x_ = y_;
  y_ = z_;
  z_ = w_;
  w_ = w_ ^ (w_ >> 19) ^ t ^ (t >> 8);
  return w_;
}

char NameGenerator::next_char() {
  // The top six bits index the alphabet; 62 and 63 are rejected so every
  // character is equally likely.
  for (;;) {
    const std::uint32_t index = next_word() >> 26;
    if (index < kAlphabet.size()) return kAlphabet[index];
  }
}

std::string NameGenerator::next_name() {
  std::string name = "test_";
  for (std::size_t i = 0; i < kNameLength; ++i) name.push_back(next_char());
  return name;
}

}  // namespace sandrig::pool
