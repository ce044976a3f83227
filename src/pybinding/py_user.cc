// PyUser: one account handed out by a PyUserPool.
#include "pybinding/py_user.h"

#include <string>
#include <utility>

#include "pool/terminal_session.h"
#include "pool/user.h"
#include "pybinding/classes.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/gil_released.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/panic.h"
#include "pybinding/framework/results.h"
#include "pybinding/py_terminal_session.h"

namespace sandrig::py {
namespace {

using Users = Native<pool::SharedUser>;

PyResult<pool::SharedUser*> user_of(PyObject* self) {
  return self_value<pool::SharedUser>(self, ClassId::PyUser);
}

// Starting su waits on the host and the user's lock may be held by another
// thread: both happen with the interpreter lock given up.
PyResult<OwnedRef> user_spawn(PyObject* self) {
  pool::SharedUser* user = SANDRIG_TRY(user_of(self));
  auto session = without_gil([user] { return pool::User::spawn_terminal(*user); });
  if (!session) return raise_message(session.error());
  auto created = new_py_terminal_session(*session);
  if (!created) drop_without_gil(*session);
  return result_or_internal_failure(std::move(created), "Failed to create the PyTerminalSession object");
}

// A field of the user, copied under its lock (see gil_free_locked_call).
template <typename Field>
auto user_field(PyObject* self, Field field) -> PyResult<decltype(field(std::declval<const pool::User&>()))> {
  pool::SharedUser* user = SANDRIG_TRY(user_of(self));
  return gil_free_locked_call(**user, [field](pool::User& locked) { return field(locked); });
}

PyResult<OwnedRef> user_username(PyObject* self) {
  return text_result(SANDRIG_TRY(user_field(self, [](const pool::User& u) { return u.username(); })));
}

PyResult<OwnedRef> user_uid(PyObject* self) {
  return unsigned_result(SANDRIG_TRY(user_field(self, [](const pool::User& u) { return u.uid(); })));
}

PyResult<OwnedRef> user_home(PyObject* self) {
  return text_result(SANDRIG_TRY(user_field(self, [](const pool::User& u) { return u.home(); })));
}

PyResult<OwnedRef> user_str(PyObject* self) {
  return text_result(SANDRIG_TRY(user_field(self, [](const pool::User& u) {
    return "{ username: " + u.username() + ", uid: " + std::to_string(u.uid()) + ", home: " + u.home() + " }";
  })));
}

constexpr ClassDecl<0> kPyUser{
    ClassId::PyUser, "PyUser",
    "\nA class that represents a user account in the pool.\n\n"
    "This class represents a user account in the pool. The user account can\n"
    "be used to create a new terminal session. The user account will be\n"
    "released back to the pool when the session is dropped.\n",
    {}, nullptr};

constexpr Method<0> kSpawn{
    "spawn", {},
    "\nSpawn a new terminal session for the user.\n\n"
    "This function spawns a new terminal session for the user. The terminal\n"
    "session can be used to interact with the terminal. The function will\n"
    "return an error if the terminal session could not be spawned.\n",
    &user_spawn};

constexpr Method<0> kUsername{"username", {}, "\nGet the username of the user.\n", &user_username};
constexpr Method<0> kUid{"uid", {}, "\nGet the UID of the user.\n", &user_uid};
constexpr Method<0> kHome{"home", {}, "\nGet the home folder of the user.\n", &user_home};

// Dropping the last reference releases the account: pkill, then the pool's
// lock, both waited for with the interpreter lock given up.
void user_dealloc(PyObject* self) { Users::destroy_without_gil(self, nullptr); }

using PyUserClass = DeclaredClass<kPyUser, kSpawn, kUsername, kUid, kHome>;

}  // namespace

PyResult<OwnedRef> new_py_user(pool::SharedUser& user) {
  return Users::create(SANDRIG_TRY(class_type(ClassId::PyUser)), std::move(user));
}

template <>
PyResult<void> register_class_of<ClassId::PyUser>(PyObject* module) {
  // Dropping the last reference to the User releases the account.
  SANDRIG_TRY(PyUserClass::register_in(module, Users::kBasicSize,
                                       {{Py_tp_dealloc, as_slot(&user_dealloc)},
                                        {Py_tp_str, as_slot(Edge<&user_str>::call)}}));
  return {};
}

}  // namespace sandrig::py
