#include "pool/sysv_ipc.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sandrig::pool {

namespace {

// One of the three kinds of object: its /proc list, the column naming
// its id there, and how to remove one.
struct IpcKind {
  const char* list;
  const char* id_column;
  int (*remove)(int id);
};

const IpcKind kKinds[] = {
    {"/proc/sysvipc/shm", "shmid", [](int id) { return ::shmctl(id, IPC_RMID, nullptr); }},
    {"/proc/sysvipc/sem", "semid", [](int id) { return ::semctl(id, 0, IPC_RMID); }},
    {"/proc/sysvipc/msg", "msqid", [](int id) { return ::msgctl(id, IPC_RMID, nullptr); }},
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

template <typename T>
bool parse(const std::string& text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The ids of the objects of `kind` owned or created by `uid`; false when
// the list exists but cannot be read as expected.
bool owned_ids(const IpcKind& kind, std::uint32_t uid, std::vector<int>& ids) {
  std::ifstream list(kind.list);
  if (!list.is_open()) return errno == ENOENT;  // no System V IPC in this kernel
  std::string line;
  if (!std::getline(list, line)) return false;
  // Columns are found by name: their order differs between the lists.
  const std::vector<std::string> header = words(line);
  std::size_t id_at = header.size(), uid_at = header.size(), cuid_at = header.size();
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] == kind.id_column) id_at = i;
    if (header[i] == "uid") uid_at = i;
    if (header[i] == "cuid") cuid_at = i;
  }
  if (id_at == header.size() || uid_at == header.size() || cuid_at == header.size()) return false;
  while (std::getline(list, line)) {
    const std::vector<std::string> row = words(line);
    if (row.size() < header.size()) return false;
    int id = 0;
    std::uint32_t owner = 0, creator = 0;
    if (!parse(row[id_at], id) || !parse(row[uid_at], owner) || !parse(row[cuid_at], creator)) return false;
    if (owner == uid || creator == uid) ids.push_back(id);
  }
  return true;
}

}  // namespace

bool remove_ipc_objects(std::uint32_t uid) {
  bool all_removed = true;
  for (const IpcKind& kind : kKinds) {
    std::vector<int> ids;
    if (!owned_ids(kind, uid, ids)) {
      all_removed = false;
      continue;
    }
    for (const int id : ids) {
      // Gone meanwhile (EINVAL, EIDRM) is as good as removed.
      if (kind.remove(id) != 0 && errno != EINVAL && errno != EIDRM) all_removed = false;
    }
  }
  return all_removed;
}

}  // namespace sandrig::pool
