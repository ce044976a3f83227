// PyTerminalSession: a bash session of a PyUser, reached through pipes.
#include "pybinding/py_terminal_session.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/gil_released.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/panic.h"
#include "pybinding/framework/results.h"

namespace sandrig::py {
namespace {

using Session = std::unique_ptr<pool::TerminalSession>;
using Sessions = Native<Session>;

constexpr std::size_t kDefaultReadSize = 1024;

enum class Stream { Stdout, Stderr };

// Every method waits on the host (the pipes, su) with the interpreter lock
// given up; the session takes its own locks, one per stream.
PyResult<pool::TerminalSession*> session_of(PyObject* self) {
  return SANDRIG_TRY(self_value<Session>(self, ClassId::PyTerminalSession))->get();
}

PyResult<OwnedRef> session_close(PyObject* self) {
  pool::TerminalSession* session = SANDRIG_TRY(session_of(self));
  without_gil([session] { session->close(); });
  return none_result();
}

PyResult<OwnedRef> session_write(PyObject* self, const BoundArguments<1>& arguments) {
  pool::TerminalSession* session = SANDRIG_TRY(session_of(self));
  // The bytes object stays alive and unchanged while the caller holds it.
  std::span<const std::uint8_t> data = SANDRIG_TRY(bytes_argument(arguments[0], "data"));
  auto written = without_gil([session, data] { return session->write(data); });
  if (!written) return raise_message(written.error());
  return none_result();
}

// A failed read may have been a signal: its Python handler runs now, and
// an exception it raises (KeyboardInterrupt) is what the caller gets.
std::unexpected<ErrorIsSet> raise_read_failure(const std::string& message) {
  if (PyErr_CheckSignals() != 0) return error_is_set();
  return raise_message(message);
}

template <Stream stream>
PyResult<OwnedRef> read_stream(PyObject* self, const BoundArguments<1>& arguments) {
  pool::TerminalSession* session = SANDRIG_TRY(session_of(self));
  auto requested = SANDRIG_TRY(optional_argument(arguments[0], "buffer", size_argument));
  const std::size_t size = requested.value_or(kDefaultReadSize);
  if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return raise_internal_failure("capacity overflow");

  std::vector<std::uint8_t> buffer;
  auto count = without_gil([&]() -> std::expected<std::size_t, std::string> {
    // One read never returns more than the pipe holds, so a larger buffer
    // would only be allocated to stay unused.
    const std::size_t limit = stream == Stream::Stdout ? session->stdout_read_limit() : session->stderr_read_limit();
    buffer.resize(std::min(size, limit));
    return stream == Stream::Stdout ? session->read_stdout(buffer) : session->read_stderr(buffer);
  });
  if (!count) return raise_read_failure(count.error());
  return bytes_result(std::span(buffer).first(*count));
}

// Kills the shell before the session's reference to its user goes, so the
// account's release (when this was the last reference) finds it gone. A
// failure here is an internal failure, reported as unraisable.
void close_before_drop(Session& session) { session->close(); }

void session_dealloc(PyObject* self) { Sessions::destroy_without_gil(self, &close_before_drop); }

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

PyResult<OwnedRef> new_py_terminal_session(std::unique_ptr<pool::TerminalSession>& session) {
  return Sessions::create(SANDRIG_TRY(class_type(ClassId::PyTerminalSession)), std::move(session));
}

template <>
PyResult<void> register_class_of<ClassId::PyTerminalSession>(PyObject* module) {
  SANDRIG_TRY(PyTerminalSessionClass::register_in(module, Sessions::kBasicSize,
                                                  {{Py_tp_dealloc, as_slot(&session_dealloc)}}));
  return {};
}

}  // namespace sandrig::py
