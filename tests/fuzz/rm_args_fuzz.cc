// Fuzzes the option parser of `rm`: the input is its words, NUL-separated.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "terminal/rm_args.h"
#include "tree_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  auto parsed = sandrig::terminal::RmArgs::parse(words);
  if (!parsed) {
    sandrig::fuzz::require(!parsed.error().empty() && parsed.error().back() == '\n',
                           "every rm message ends with a newline");
  }
  return 0;
}
