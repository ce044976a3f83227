// PyTerminalSession: a bash session of a PyUser, reached through pipes.
#include "pybinding/py_terminal_session.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/mutex.h"
#include "pybinding/arguments.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/edge.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/panic.h"
#include "pybinding/results.h"
#include "pybinding/type_builder.h"

namespace sandrig::py {
namespace {

using LockedSession = Mutex<pool::TerminalSession>;
using Sessions = Native<LockedSession>;

constexpr std::size_t kDefaultReadSize = 1024;

enum class Stream { Stdout, Stderr };

PyResult<LockedSession*> session_of(PyObject* self) {
  return self_value<LockedSession>(self, ClassId::PyTerminalSession);
}

PyObject* session_close(PyObject* self, PyObject*) {
  auto session = session_of(self);
  if (!session) return nullptr;
  (*session)->lock()->close();
  return none_result();
}

PyObject* session_write(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"data"}};
  auto bound = bind_arguments("PyTerminalSession.write", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto session = session_of(self);
  if (!session) return nullptr;
  auto data = bytes_argument((*bound)[0], "data");
  if (!data) return nullptr;
  auto written = (*session)->lock()->write(*data);
  return written ? none_result() : raise_message(written.error());
}

PyObject* read_stream(PyObject* self, PyObject* args, PyObject* kwargs, const char* function, Stream stream) {
  static constexpr Parameter kParameters[] = {{"buffer", false}};
  auto bound = bind_arguments(function, kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto session = session_of(self);
  if (!session) return nullptr;
  auto requested = optional_argument((*bound)[0], "buffer", size_argument);
  if (!requested) return nullptr;
  const std::size_t size = requested->value_or(kDefaultReadSize);
  if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return raise_internal_failure("capacity overflow");

  std::vector<std::uint8_t> buffer;
  std::expected<std::size_t, std::string> count;
  {
    auto guard = (*session)->lock();
    // One read never returns more than the pipe holds, so a larger buffer
    // would only be allocated to stay unused.
    const std::size_t limit = stream == Stream::Stdout ? guard->stdout_read_limit() : guard->stderr_read_limit();
    buffer.resize(std::min(size, limit));
    count = stream == Stream::Stdout ? guard->read_stdout(buffer) : guard->read_stderr(buffer);
  }
  if (!count) return raise_message(count.error());
  return bytes_result(std::span(buffer).first(*count));
}

PyObject* session_read(PyObject* self, PyObject* args, PyObject* kwargs) {
  return read_stream(self, args, kwargs, "PyTerminalSession.read", Stream::Stdout);
}

PyObject* session_read_err(PyObject* self, PyObject* args, PyObject* kwargs) {
  return read_stream(self, args, kwargs, "PyTerminalSession.read_err", Stream::Stderr);
}

// Kills the shell before the session's reference to its user goes, so the
// account's release (when this was the last reference) finds it gone. A
// failure here is an internal failure, reported as unraisable.
void close_before_drop(LockedSession& locked) { locked.lock()->close(); }

void session_dealloc(PyObject* self) { Sessions::destroy_with(self, &close_before_drop); }

constexpr const char* kClassDoc =
    "\nA class that represents a bash terminal session of a pool user account.\n\n"
    "This class represents a bash shell running as one user account of the\n"
    "pool. It is obtained from PyUser.spawn. Data written with write goes to\n"
    "the shell's standard input; read and read_err return what the shell\n"
    "wrote to its standard output and standard error. The user account stays\n"
    "allocated until both this terminal session and the user object are freed.\n";

PyMethodDef methods[] = {
    {"close", as_cfunction(Edge<&session_close>::call), METH_NOARGS,
     "close($self)\n--\n\n\nClose the terminal session.\n"},
    {"write", as_cfunction(Edge<&session_write>::call), METH_VARARGS | METH_KEYWORDS,
     "write($self, data)\n--\n\n\nWrite data to the terminal session.\n"},
    {"read", as_cfunction(Edge<&session_read>::call), METH_VARARGS | METH_KEYWORDS,
     "read($self, buffer=None)\n--\n\n\nRead data from the terminal session.\n"},
    {"read_err", as_cfunction(Edge<&session_read_err>::call), METH_VARARGS | METH_KEYWORDS,
     "read_err($self, buffer=None)\n--\n\n\nRead data from the stderr of the terminal session.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, as_slot(&no_constructor)},
    {Py_tp_dealloc, as_slot(&session_dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"PyTerminalSession", Sessions::kBasicSize, 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyResult<OwnedRef> new_py_terminal_session(pool::TerminalSession session) {
  auto type = class_type(ClassId::PyTerminalSession);
  if (!type) return error_is_set();
  return Sessions::create(*type, kPoisonedLock, std::move(session));
}

bool register_py_terminal_session(PyObject* module) {
  return register_class(module, ClassId::PyTerminalSession, spec).has_value();
}

}  // namespace sandrig::py
