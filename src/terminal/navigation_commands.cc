// The commands that move around the filesystem and look at it.

#include <string>

#include "terminal/command_table.h"
#include "terminal/target_inode.h"

namespace sandrig::terminal {

CommandResult cmd_cd(TerminalContext& context, std::span<const std::string> args) {
  if (args.empty()) return command_error("cd: missing argument");
  const std::string& arg = args.front();

  auto target = get_target_inode(context, arg);
  if (!target) return command_error("cd: cannot access '" + arg + "': " + target.error());
  auto is_directory = context.fs->is_directory_raw(*target);
  if (!is_directory) {
    return command_error("cd: cannot access '" + arg + "': " + is_directory.error().display());
  }
  if (!*is_directory) return command_error("cd: " + arg + ": Not a directory");

  context.cwd = *target;
  return std::string();
}

CommandResult cmd_pwd(TerminalContext& context, std::span<const std::string>) {
  auto path = context.fs->get_path_by_inode(context.cwd);
  if (!path) {
    return command_error("pwd: cannot access '" + std::to_string(context.cwd) +
                         "': " + path.error().display());
  }
  return std::move(*path);
}

CommandResult cmd_ls(TerminalContext& context, std::span<const std::string> args) {
  fs::InodeId target = context.cwd;
  if (!args.empty()) {
    auto resolved = get_target_inode(context, args.front());
    if (!resolved) return command_error(std::move(resolved.error()));
    target = *resolved;
  }

  const std::string id = std::to_string(target);
  auto is_directory = context.fs->is_directory_raw(target);
  if (!is_directory) {
    return command_error("ls: cannot access '" + id + "': " + is_directory.error().display());
  }
  if (!*is_directory) return command_error("ls: " + id + ": Not a directory");

  auto listing = context.fs->ls_raw(target);
  if (!listing) {
    return command_error("ls: cannot access '" + id + "': " + listing.error().display());
  }
  std::string out;
  for (const std::string& name : listing->files) out += name + "\n";
  for (const std::string& name : listing->directories) out += name + "/\n";
  return out;
}

}  // namespace sandrig::terminal
