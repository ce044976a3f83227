#include "pool/account_sweep.h"

#include <sys/stat.h>

#include <optional>
#include <string>

#include "pool/account_processes.h"
#include "pool/home_directory.h"
#include "pool/sysv_ipc.h"
#include "pool/temp_entries.h"

namespace sandrig::pool {

bool clear_account(std::uint32_t uid) {
  // Processes first: a live one could make new objects and files while
  // the rest is removed.
  if (!kill_account_processes(uid)) return false;
  bool cleared = remove_ipc_objects(uid);
  std::optional<FileIdentity> home_root;
  struct stat info;
  if (::lstat(std::string(kHomeRoot).c_str(), &info) == 0) home_root = FileIdentity{info.st_dev, info.st_ino};
  for (const std::string_view folder : kSharedTempFolders) {
    cleared = remove_owned_entries(folder, uid, home_root) && cleared;
  }
  return cleared;
}

}  // namespace sandrig::pool
