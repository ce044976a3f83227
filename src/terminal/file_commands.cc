// The commands that read, create and remove nodes, and the two that only
// produce text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/internal_failure.h"
#include "common/try.h"
#include "fs/file_handle.h"
#include "terminal/command_table.h"
#include "terminal/lossy_utf8.h"
#include "terminal/rm_args.h"
#include "terminal/target_inode.h"

namespace sandrig::terminal {
namespace {

// Reads a whole open file from its start.
fs::IoResult<std::vector<std::uint8_t>> read_all(fs::FileHandle& handle) {
  if (auto sought = handle.seek(fs::SeekOrigin::End, 0); !sought) {
    return fs::fail_with(sought.error());
  }
  const std::size_t length = handle.offset();
  if (auto sought = handle.seek(fs::SeekOrigin::Start, 0); !sought) {
    return fs::fail_with(sought.error());
  }
  std::vector<std::uint8_t> bytes(length);
  auto count = handle.read(bytes);
  if (!count) return fs::fail_with(count.error());
  bytes.resize(*count);
  return bytes;
}

// The node a new entry named by `arg` goes into, and the entry's name. A
// separator at the very start still means the current directory: only the
// text before the last separator names the parent, and for "/x" that text
// is empty, which is the current directory, so "mkdir /x" creates x here
// and not in the root.
struct NewEntry {
  fs::InodeId parent;
  std::string name;
};

std::expected<NewEntry, std::string> locate_new_entry(const TerminalContext& context,
                                                      std::string_view command,
                                                      const std::string& arg) {
  // The current directory is checked like any other parent: it may have
  // been removed since the last cd.
  const std::size_t separator = arg.find_last_of("/\\");
  NewEntry entry{context.cwd, separator == std::string::npos ? arg : arg.substr(separator + 1)};
  if (separator != std::string::npos && separator > 0) {
    entry.parent = SANDRIG_TRY(get_target_inode(context, std::string_view(arg).substr(0, separator)));
  }

  const std::string id = std::to_string(entry.parent);
  auto is_directory = context.fs->is_directory_raw(entry.parent);
  if (!is_directory) {
    return std::unexpected(std::string(command) + ": cannot access '" + id +
                           "': " + is_directory.error().display());
  }
  if (!*is_directory) return std::unexpected(std::string(command) + ": " + id + ": Not a directory");
  return entry;
}

// mkdir and touch: one algorithm, differing in the kind and the wording.
CommandResult create_entry(TerminalContext& context, std::span<const std::string> args,
                           std::string_view command, std::string_view what,
                           fs::IoResult<fs::InodeId> (fs::FileSystem::*create)(fs::InodeId, std::string)
                               const) {
  if (args.empty()) return command_error(std::string(command) + ": missing argument");
  const std::string& arg = args.front();

  auto entry = locate_new_entry(context, command, arg);
  if (!entry) return command_error(std::move(entry.error()));
  auto created = ((*context.fs).*create)(entry->parent, std::move(entry->name));
  if (!created) {
    return command_error(std::string(command) + ": cannot create " + std::string(what) + " '" +
                         arg + "': " + created.error().display());
  }
  return std::string();
}

}  // namespace

CommandResult cmd_cat(TerminalContext& context, std::span<const std::string> args) {
  if (args.empty()) return command_error("cat: missing argument");
  const std::string& arg = args.front();
  auto cannot_access = [&arg](fs::IoError error) {
    return command_error("cat: cannot access '" + arg + "': " + error.display());
  };

  auto target = get_target_inode(context, arg);
  if (!target) return command_error(std::move(target.error()));
  auto is_file = context.fs->is_file_raw(*target);
  if (!is_file) return cannot_access(is_file.error());
  if (!*is_file) return command_error("cat: " + arg + ": Is a directory");

  auto handle = fs::FileSystem::open_raw(context.fs, *target,
                                         fs::FileHandleType(fs::FileHandleType::READ));
  if (!handle) return cannot_access(handle.error());
  auto bytes = read_all(*handle);
  // Give the reader's share back before returning, whatever the read did.
  if (auto closed = handle->close(); !closed) {
    fail("cat: closing a freshly opened handle failed: " + closed.error().display());
  }
  if (!bytes) return cannot_access(bytes.error());
  return decode_utf8_lossy(*bytes);
}

CommandResult cmd_mkdir(TerminalContext& context, std::span<const std::string> args) {
  return create_entry(context, args, "mkdir", "directory", &fs::FileSystem::create_directory);
}

CommandResult cmd_touch(TerminalContext& context, std::span<const std::string> args) {
  return create_entry(context, args, "touch", "file", &fs::FileSystem::create_file);
}

CommandResult cmd_rm(TerminalContext& context, std::span<const std::string> args) {
  if (args.empty()) return command_error("rm: missing argument");
  auto parsed = RmArgs::parse(args);
  if (!parsed) return command_error("rm: " + parsed.error());

  auto target = get_target_inode(context, parsed->target);
  if (!target) return command_error(std::move(target.error()));
  auto removed = context.fs->rm_raw(*target, parsed->recursive);
  if (!removed) {
    return command_error("rm: cannot remove '" + parsed->target +
                         "': " + removed.error().display());
  }
  return std::string();
}

CommandResult cmd_help(TerminalContext&, std::span<const std::string>) {
  std::string out;
  for (const auto& [name, handler] : COMMANDS()) out += name + "\n";
  return out;
}

CommandResult cmd_echo(TerminalContext&, std::span<const std::string> args) {
  std::string out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ' ';
    out += args[i];
  }
  return out;
}

}  // namespace sandrig::terminal
