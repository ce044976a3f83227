// PyUserPool: a pool of host accounts, handed out as PyUser objects.
#include <cstddef>
#include <optional>
#include <utility>

#include "pool/user.h"
#include "pool/user_pool.h"
#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/gil_released.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/panic.h"
#include "pybinding/py_user.h"

namespace sandrig::py {
namespace {

using Pools = Native<pool::SharedPool>;

constexpr std::size_t kDefaultUserCount = 256;

PyResult<OwnedRef> pool_new(PyTypeObject* type, const BoundArguments<1>& arguments) {
  std::optional<std::size_t> user_count =
      SANDRIG_TRY(optional_argument(arguments[0], "user_count", size_argument));
  return Pools::create(type, pool::UserPool::make_shared(user_count.value_or(kDefaultUserCount)));
}

// The pool's lock, id, useradd, the clearing of a reused account and the
// home preparation are all waited for with the interpreter lock given up.
PyResult<OwnedRef> pool_allocate(PyObject* self) {
  pool::SharedPool* shared = SANDRIG_TRY(self_value<pool::SharedPool>(self, ClassId::PyUserPool));
  auto user = without_gil([shared] { return pool::UserPool::alloc_user(*shared); });
  if (!user) return raise_message(user.error());
  auto created = new_py_user(*user);
  if (!created) drop_without_gil(*user);
  return result_or_internal_failure(std::move(created), "Failed to create the PyUser object");
}

constexpr ClassDecl<1> kPyUserPool{
    ClassId::PyUserPool, "PyUserPool",
    "\nA class that represents a pool of UNIX users.\n\n"
    "This class represents a pool of UNIX users. The pool can be used to\n"
    "create and release user accounts. The pool is thread-safe and can be\n"
    "shared between multiple threads.\n",
    {{{"user_count", "None"}}}, &pool_new};

constexpr Method<0> kAllocate{
    "allocate", {},
    "\nAllocate a new user account from the pool.\n\n"
    "This function allocates a new user account from the pool. The user\n"
    "account can be used to create a new terminal session. The function\n"
    "will return an error if the user account could not be allocated.\n",
    &pool_allocate};

using PyUserPoolClass = DeclaredClass<kPyUserPool, kAllocate>;

}  // namespace

template <>
PyResult<void> register_class_of<ClassId::PyUserPool>(PyObject* module) {
  SANDRIG_TRY(PyUserPoolClass::register_in(module, Pools::kBasicSize,
                                           {{Py_tp_dealloc, as_slot(&Pools::destroy)}}));
  return {};
}

}  // namespace sandrig::py
