#pragma once

#include <span>
#include <string>
#include <unordered_map>

#include "terminal/command_result.h"
#include "terminal/terminal_context.h"

namespace sandrig::terminal {

// A built-in command: takes the context and the words after its name.
using CommandHandler = CommandResult (*)(TerminalContext& context,
                                         std::span<const std::string> args);

// Built-in commands by exact name.
using CommandTable = std::unordered_map<std::string, CommandHandler>;

// The nine built-in commands; built on first use, once per process, and
// only read afterwards.
const CommandTable& COMMANDS();

CommandResult cmd_cd(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_ls(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_pwd(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_cat(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_mkdir(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_touch(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_help(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_rm(TerminalContext& context, std::span<const std::string> args);
CommandResult cmd_echo(TerminalContext& context, std::span<const std::string> args);

}  // namespace sandrig::terminal
