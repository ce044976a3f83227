// PyUserPool: a pool of host accounts, handed out as PyUser objects.
#include <cstddef>
#include <optional>

#include "pool/user.h"
#include "pool/user_pool.h"
#include "pybinding/arguments.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/edge.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/panic.h"
#include "pybinding/py_user.h"
#include "pybinding/type_builder.h"

namespace sandrig::py {
namespace {

using Pools = Native<pool::SharedPool>;

constexpr std::size_t kDefaultUserCount = 256;

PyObject* pool_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"user_count", false}};
  auto bound = bind_arguments("PyUserPool.__new__", kParameters, args, kwargs);
  if (!bound) return nullptr;
  if (!require_class(type, ClassId::PyUserPool)) return nullptr;
  auto user_count = optional_argument((*bound)[0], "user_count", size_argument);
  if (!user_count) return nullptr;
  auto object = Pools::create(type, pool::UserPool::make_shared(user_count->value_or(kDefaultUserCount)));
  return object ? object->release() : nullptr;
}

PyObject* pool_allocate(PyObject* self, PyObject*) {
  auto shared = self_value<pool::SharedPool>(self, ClassId::PyUserPool);
  if (!shared) return nullptr;
  auto user = pool::UserPool::alloc_user(**shared);
  if (!user) return raise_message(user.error());
  auto object = new_py_user(std::move(*user));
  if (!object) {
    PyErr_Clear();
    return raise_internal_failure("Failed to create the PyUser object");
  }
  return object->release();
}

constexpr const char* kClassDoc =
    "PyUserPool(user_count=None)\n--\n\n"
    "\nA class that represents a pool of UNIX users.\n\n"
    "This class represents a pool of UNIX users. The pool can be used to\n"
    "create and release user accounts. The pool is thread-safe and can be\n"
    "shared between multiple threads.\n";

PyMethodDef methods[] = {
    {"allocate", as_cfunction(Edge<&pool_allocate>::call), METH_NOARGS,
     "allocate($self)\n--\n\n"
     "\nAllocate a new user account from the pool.\n\n"
     "This function allocates a new user account from the pool. The user\n"
     "account can be used to create a new terminal session. The function\n"
     "will return an error if the user account could not be allocated.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, as_slot(Edge<&pool_new>::call)},
    {Py_tp_dealloc, as_slot(&Pools::destroy)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"PyUserPool", Pools::kBasicSize, 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

bool register_py_user_pool(PyObject* module) {
  return register_class(module, ClassId::PyUserPool, spec).has_value();
}

}  // namespace sandrig::py
