#include "terminal/command_table.h"

namespace sandrig::terminal {

const CommandTable& COMMANDS() {
  // A function-local static: the first caller builds it, racing callers
  // wait for that, and nobody changes it afterwards.
  static const CommandTable table = {
      {"cd", cmd_cd},       {"ls", cmd_ls},     {"pwd", cmd_pwd},
      {"cat", cmd_cat},     {"mkdir", cmd_mkdir}, {"touch", cmd_touch},
      {"help", cmd_help},   {"rm", cmd_rm},     {"echo", cmd_echo},
  };
  return table;
}

}  // namespace sandrig::terminal
