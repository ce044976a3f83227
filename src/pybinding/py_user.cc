// PyUser: one account handed out by a PyUserPool.
#include "pybinding/py_user.h"

#include <string>

#include "pool/terminal_session.h"
#include "pool/user.h"
#include "pybinding/classes.h"
#include "pybinding/edge.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/panic.h"
#include "pybinding/py_terminal_session.h"
#include "pybinding/results.h"
#include "pybinding/type_builder.h"

namespace sandrig::py {
namespace {

using Users = Native<pool::SharedUser>;

PyResult<pool::SharedUser*> user_of(PyObject* self) {
  return self_value<pool::SharedUser>(self, ClassId::PyUser);
}

PyObject* user_spawn(PyObject* self, PyObject*) {
  auto user = user_of(self);
  if (!user) return nullptr;
  auto session = pool::User::spawn_terminal(**user);
  if (!session) return raise_message(session.error());
  auto object = new_py_terminal_session(std::move(*session));
  if (!object) {
    PyErr_Clear();
    return raise_internal_failure("Failed to create the PyTerminalSession object");
  }
  return object->release();
}

PyObject* user_username(PyObject* self, PyObject*) {
  auto user = user_of(self);
  if (!user) return nullptr;
  const std::string name = (**user)->lock()->username();
  return text_result(name);
}

PyObject* user_uid(PyObject* self, PyObject*) {
  auto user = user_of(self);
  if (!user) return nullptr;
  const std::uint32_t uid = (**user)->lock()->uid();
  return unsigned_result(uid);
}

PyObject* user_home(PyObject* self, PyObject*) {
  auto user = user_of(self);
  if (!user) return nullptr;
  const std::string home = (**user)->lock()->home();
  return text_result(home);
}

PyObject* user_str(PyObject* self) {
  auto user = user_of(self);
  if (!user) return nullptr;
  std::string text;
  {
    auto guard = (**user)->lock();
    text = "{ username: " + guard->username() + ", uid: " + std::to_string(guard->uid()) +
           ", home: " + guard->home() + " }";
  }
  return text_result(text);
}

constexpr const char* kClassDoc =
    "\nA class that represents a user account in the pool.\n\n"
    "This class represents a user account in the pool. The user account can\n"
    "be used to create a new terminal session. The user account will be\n"
    "released back to the pool when the session is dropped.\n";

PyMethodDef methods[] = {
    {"spawn", as_cfunction(Edge<&user_spawn>::call), METH_NOARGS,
     "spawn($self)\n--\n\n"
     "\nSpawn a new terminal session for the user.\n\n"
     "This function spawns a new terminal session for the user. The terminal\n"
     "session can be used to interact with the terminal. The function will\n"
     "return an error if the terminal session could not be spawned.\n"},
    {"username", as_cfunction(Edge<&user_username>::call), METH_NOARGS,
     "username($self)\n--\n\n\nGet the username of the user.\n"},
    {"uid", as_cfunction(Edge<&user_uid>::call), METH_NOARGS, "uid($self)\n--\n\n\nGet the UID of the user.\n"},
    {"home", as_cfunction(Edge<&user_home>::call), METH_NOARGS,
     "home($self)\n--\n\n\nGet the home folder of the user.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, as_slot(&no_constructor)},
    // Dropping the last reference to the User releases the account.
    {Py_tp_dealloc, as_slot(&Users::destroy)},
    {Py_tp_str, as_slot(Edge<&user_str>::call)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"PyUser", Users::kBasicSize, 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyResult<OwnedRef> new_py_user(pool::SharedUser user) {
  auto type = class_type(ClassId::PyUser);
  if (!type) return error_is_set();
  return Users::create(*type, std::move(user));
}

bool register_py_user(PyObject* module) { return register_class(module, ClassId::PyUser, spec).has_value(); }

}  // namespace sandrig::py
