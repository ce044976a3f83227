#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "pool/terminal_session.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// A new PyTerminalSession object that takes over `session`; on failure
// `session` is left to the caller, to be dropped without the interpreter
// lock (its close waits for su).
PyResult<OwnedRef> new_py_terminal_session(std::unique_ptr<pool::TerminalSession>& session);

}  // namespace sandrig::py
