// Times building, searching, listing and removing one directory of
// 100,000 files: each step must stay linear in the entry count.
#include <chrono>
#include <cstdio>
#include <string>

#include "fs/file_system.h"
#include "fs/inode_kind.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  constexpr int kFiles = 100000;
  sandrig::fs::FileSystem fs;
  if (!fs.mkdir("/big")) return 1;
  const auto big = fs.get_inode_by_path_raw("/big").value();

  auto start = Clock::now();
  for (int i = 0; i < kFiles; ++i) {
    if (!fs.create_inode(big, "file" + std::to_string(i), sandrig::fs::INodeKind::file())) return 1;
  }
  std::printf("create %d files:  %.3f s\n", kFiles, seconds_since(start));

  start = Clock::now();
  for (int i = 0; i < kFiles; ++i) {
    if (!fs.get_inode_by_path_raw("/big/file" + std::to_string(i))) return 1;
  }
  std::printf("resolve each path: %.3f s\n", seconds_since(start));

  start = Clock::now();
  const auto listing = fs.ls_raw(big);
  std::printf("list directory:    %.3f s (%zu files)\n", seconds_since(start),
              listing->files.size());

  start = Clock::now();
  if (!fs.rm("/big", true)) return 1;
  std::printf("remove recursive:  %.3f s\n", seconds_since(start));
  return 0;
}
