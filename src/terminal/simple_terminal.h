#pragma once

#include <memory>

#include "fs/file_system.h"
#include "terminal/terminal.h"
#include "terminal/terminal_context.h"

namespace sandrig::terminal {

// The built-in shell over one filesystem: splits a line into words and runs
// the named built-in command against its context. Not synchronized: the
// owner gives each run exclusive use.
class SimpleTerminal : public Terminal {
 public:
  // A terminal on `fs` whose current directory is the root.
  explicit SimpleTerminal(std::shared_ptr<fs::FileSystem> fs);

  std::expected<std::string, std::string> run(std::string_view line) override;

 private:
  TerminalContext context_;
};

}  // namespace sandrig::terminal
