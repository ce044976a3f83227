#include "terminal/simple_terminal.h"

#include <span>

#include "terminal/command_table.h"
#include "terminal/word_splitter.h"

namespace sandrig::terminal {

SimpleTerminal::SimpleTerminal(std::shared_ptr<fs::FileSystem> fs)
    : context_{fs::kRootId, std::move(fs)} {}

std::expected<std::string, std::string> SimpleTerminal::run(std::string_view line) {
  auto words = split_words(line);
  if (!words) return command_error("The command was not correctly formatted");
  if (words->empty()) return std::string();

  const CommandTable& commands = COMMANDS();
  auto command = commands.find(words->front());
  if (command == commands.end()) return command_error(words->front() + ": command not found");
  return command->second(context_, std::span<const std::string>(*words).subspan(1));
}

}  // namespace sandrig::terminal
