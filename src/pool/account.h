#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/mutex.h"

namespace sandrig::pool {

// A host account known to a pool.
struct Account {
  std::uint32_t uid = 0;
  std::string name;
  bool operator==(const Account&) const = default;
};

class User;
class UserPool;

// A pool as shared by its Python object and every User handed out.
using SharedPool = std::shared_ptr<Mutex<UserPool>>;
// A User as shared by its Python object and every session spawned from it.
using SharedUser = std::shared_ptr<Mutex<User>>;

}  // namespace sandrig::pool
