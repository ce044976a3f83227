// Fuzzes one whole terminal line against a small prepared filesystem, then
// a second line in the directory the first one left, checking the tree.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "fs/file_handle.h"
#include "fs/file_handle_type.h"
#include "fs/file_system.h"
#include "terminal/simple_terminal.h"
#include "tree_invariants.h"

namespace {

std::shared_ptr<sandrig::fs::FileSystem> prepared_filesystem() {
  auto fs = std::make_shared<sandrig::fs::FileSystem>();
  (void)fs->mkdir("docs");
  (void)fs->mkdir("docs/img");
  (void)fs->touch("docs/notes");
  (void)fs->touch("readme");
  auto handle = sandrig::fs::FileSystem::open(fs, "readme", sandrig::fs::FileHandleType(2), false);
  if (handle) {
    const std::uint8_t text[] = {'h', 'i', '\n'};
    (void)handle->write(text);
    (void)handle->close();
  }
  return fs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto fs = prepared_filesystem();
  sandrig::terminal::SimpleTerminal terminal(fs);
  // A newline-free prefix is the first line; the rest runs as the second.
  std::size_t split = input.find('\n');
  std::string_view first = input.substr(0, split);
  (void)terminal.run(first);
  sandrig::fuzz::check_tree_invariants(*fs, {});
  if (split != std::string_view::npos) {
    (void)terminal.run(input.substr(split + 1));
    sandrig::fuzz::check_tree_invariants(*fs, {});
  }
  (void)fs->debug();
  return 0;
}
