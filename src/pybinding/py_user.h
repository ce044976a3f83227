#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pool/account.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// A new PyUser object that takes over `user`; on failure `user` is left to
// the caller, to be dropped without the interpreter lock (its release
// waits for pkill).
PyResult<OwnedRef> new_py_user(pool::SharedUser& user);

}  // namespace sandrig::py
