#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pool/account.h"
#include "pybinding/owned_ref.h"
#include "pybinding/py_result.h"

namespace sandrig::py {

// A new PyUser object holding `user`.
PyResult<OwnedRef> new_py_user(pool::SharedUser user);

}  // namespace sandrig::py
