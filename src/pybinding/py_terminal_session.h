#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pool/terminal_session.h"
#include "pybinding/owned_ref.h"
#include "pybinding/py_result.h"

namespace sandrig::py {

// A new PyTerminalSession object that takes over `session`.
PyResult<OwnedRef> new_py_terminal_session(pool::TerminalSession session);

}  // namespace sandrig::py
