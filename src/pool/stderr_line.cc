#include "pool/stderr_line.h"

#include <cstdio>
#include <string>

namespace sandrig::pool {

void write_stderr_line(std::string_view text) {
  // Written whole, NUL bytes included, in a single call.
  std::string line(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace sandrig::pool
