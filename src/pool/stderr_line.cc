#include "pool/stderr_line.h"

#include <unistd.h>

#include <string>

#include "common/write_all.h"

namespace sandrig::pool {

void write_stderr_line(std::string_view text) {
  // Written whole, NUL bytes included, in a single call where the
  // descriptor takes it, so concurrent lines do not interleave.
  std::string line(text);
  line.push_back('\n');
  write_all(STDERR_FILENO, line);
}

}  // namespace sandrig::pool
