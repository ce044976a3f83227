// Measures what an empty file costs: its node, its share of the table's
// slots and of its directory's entry list (and name index in a large
// directory), as seen by the allocator. The budget is 160 bytes per file.
#include <malloc.h>

#include <cstdio>
#include <string>

#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace {

using sandrig::fs::FileSystem;
using sandrig::fs::INodeKind;
using sandrig::fs::InodeId;

std::size_t heap_in_use() { return mallinfo2().uordblks; }

// Bytes per file when `files` empty files are spread over directories of
// `per_directory` entries each (directory nodes are not counted against
// the files: they are created first).
double bytes_per_file(std::size_t files, std::size_t per_directory) {
  FileSystem fs;
  const std::size_t directories = (files + per_directory - 1) / per_directory;
  std::vector<InodeId> parents;
  for (std::size_t d = 0; d < directories; ++d) {
    std::string name = "d";
    name += std::to_string(d);
    parents.push_back(fs.create_inode(0, std::move(name), INodeKind::directory()).value());
  }
  const std::size_t before = heap_in_use();
  for (std::size_t i = 0; i < files; ++i) {
    (void)fs.create_inode(parents[i / per_directory], "file" + std::to_string(i),
                          INodeKind::file());
  }
  const std::size_t after = heap_in_use();
  return static_cast<double>(after - before) / static_cast<double>(files);
}

}  // namespace

int main() {
  std::printf("sizeof(INode) = %zu, sizeof(INodeKind) = %zu\n", sizeof(sandrig::fs::INode),
              sizeof(INodeKind));
  int status = 0;
  for (std::size_t per_directory : {std::size_t{8}, std::size_t{1000}, std::size_t{100000}}) {
    const double cost = bytes_per_file(200000, per_directory);
    std::printf("empty file, %6zu per directory: %.1f bytes (budget 160)\n", per_directory, cost);
    if (cost > 160) status = 1;
  }
  return status;
}
