// Fuzzes the command line word splitter with arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "terminal/word_splitter.h"
#include "tree_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  auto words = sandrig::terminal::split_words(line);
  if (words) {
    std::size_t total = 0;
    for (const auto& word : *words) total += word.size();
    // Quoting only removes characters, it never adds any.
    sandrig::fuzz::require(total <= size, "words are no longer than the line");
  }
  return 0;
}
