// PyTerminalSession: a bash session of a PyUser, reached through pipes.
#include "pybinding/py_terminal_session.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/mutex.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/declared_class.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/panic.h"
#include "pybinding/results.h"

namespace sandrig::py {
namespace {

using LockedSession = Mutex<pool::TerminalSession>;
using Sessions = Native<LockedSession>;

constexpr std::size_t kDefaultReadSize = 1024;

enum class Stream { Stdout, Stderr };

PyResult<LockedSession*> session_of(PyObject* self) {
  return self_value<LockedSession>(self, ClassId::PyTerminalSession);
}

PyResult<OwnedRef> session_close(PyObject* self) {
  SANDRIG_TRY(session_of(self))->lock()->close();
  return none_result();
}

PyResult<OwnedRef> session_write(PyObject* self, const BoundArguments<1>& arguments) {
  LockedSession* session = SANDRIG_TRY(session_of(self));
  std::span<const std::uint8_t> data = SANDRIG_TRY(bytes_argument(arguments[0], "data"));
  auto written = session->lock()->write(data);
  if (!written) return raise_message(written.error());
  return none_result();
}

template <Stream stream>
PyResult<OwnedRef> read_stream(PyObject* self, const BoundArguments<1>& arguments) {
  LockedSession* session = SANDRIG_TRY(session_of(self));
  auto requested = SANDRIG_TRY(optional_argument(arguments[0], "buffer", size_argument));
  const std::size_t size = requested.value_or(kDefaultReadSize);
  if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return raise_internal_failure("capacity overflow");

  std::vector<std::uint8_t> buffer;
  std::expected<std::size_t, std::string> count;
  {
    auto guard = session->lock();
    // One read never returns more than the pipe holds, so a larger buffer
    // would only be allocated to stay unused.
    const std::size_t limit = stream == Stream::Stdout ? guard->stdout_read_limit() : guard->stderr_read_limit();
    buffer.resize(std::min(size, limit));
    count = stream == Stream::Stdout ? guard->read_stdout(buffer) : guard->read_stderr(buffer);
  }
  if (!count) return raise_message(count.error());
  return bytes_result(std::span(buffer).first(*count));
}

// Kills the shell before the session's reference to its user goes, so the
// account's release (when this was the last reference) finds it gone. A
// failure here is an internal failure, reported as unraisable.
void close_before_drop(LockedSession& locked) { locked.lock()->close(); }

void session_dealloc(PyObject* self) { Sessions::destroy_with(self, &close_before_drop); }

constexpr ClassDecl<0> kPyTerminalSession{
    ClassId::PyTerminalSession, "PyTerminalSession",
    "\nA class that represents a bash terminal session of a pool user account.\n\n"
    "This class represents a bash shell running as one user account of the\n"
    "pool. It is obtained from PyUser.spawn. Data written with write goes to\n"
    "the shell's standard input; read and read_err return what the shell\n"
    "wrote to its standard output and standard error. The user account stays\n"
    "allocated until both this terminal session and the user object are freed.\n",
    {}, nullptr};

constexpr Method<0> kClose{"close", {}, "\nClose the terminal session.\n", &session_close};
constexpr Method<1> kWrite{"write", {{{"data"}}}, "\nWrite data to the terminal session.\n",
                           &session_write};
constexpr Method<1> kRead{"read", {{{"buffer", "None"}}}, "\nRead data from the terminal session.\n",
                          &read_stream<Stream::Stdout>};
constexpr Method<1> kReadErr{"read_err", {{{"buffer", "None"}}},
                             "\nRead data from the stderr of the terminal session.\n",
                             &read_stream<Stream::Stderr>};

using PyTerminalSessionClass = DeclaredClass<kPyTerminalSession, kClose, kWrite, kRead, kReadErr>;

}  // namespace

PyResult<OwnedRef> new_py_terminal_session(pool::TerminalSession session) {
  return Sessions::create(SANDRIG_TRY(class_type(ClassId::PyTerminalSession)), kPoisonedLock,
                          std::move(session));
}

template <>
PyResult<void> register_class_of<ClassId::PyTerminalSession>(PyObject* module) {
  SANDRIG_TRY(PyTerminalSessionClass::register_in(module, Sessions::kBasicSize,
                                                  {{Py_tp_dealloc, as_slot(&session_dealloc)}}));
  return {};
}

}  // namespace sandrig::py
