#include "pybinding/type_builder.h"

#include "pybinding/edge.h"

namespace sandrig::py {
namespace {

constexpr const char* kModuleName = "sandrig";

// Some interpreters warn (DeprecationWarning) when a spec name carries no
// module prefix, and a warnings filter set to "error" would turn that into
// a failed import. The name is bare on purpose and __module__ is set right
// after, so the warning is silenced for the one call that builds the type.
class WarningsSilenced {
 public:
  WarningsSilenced() {
    OwnedRef warnings = OwnedRef::steal(PyImport_ImportModule("warnings"));
    if (!warnings) return;
    OwnedRef catcher = OwnedRef::steal(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
    if (!catcher) return;
    OwnedRef entered = OwnedRef::steal(PyObject_CallMethod(catcher.get(), "__enter__", nullptr));
    if (!entered) return;
    catcher_ = std::move(catcher);
    OwnedRef ignored = OwnedRef::steal(PyObject_CallMethod(
        warnings.get(), "simplefilter", "sO", "ignore", PyExc_DeprecationWarning));
    active_ = static_cast<bool>(ignored);
  }
  WarningsSilenced(const WarningsSilenced&) = delete;
  WarningsSilenced& operator=(const WarningsSilenced&) = delete;
  // Restores the filters; an exception pending from the guarded call survives.
  ~WarningsSilenced() {
    if (!catcher_) return;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    OwnedRef exited = OwnedRef::steal(
        PyObject_CallMethod(catcher_.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
    if (!exited) PyErr_Clear();
    PyErr_Restore(type, value, traceback);
  }

  // True when the filters are in place; false with a Python exception set.
  bool active() const { return active_; }

 private:
  OwnedRef catcher_;  // entered catch_warnings context, exited on destruction
  bool active_ = false;
};

#ifdef PYPY_VERSION
// PyPy lets Python code subclass a heap type that lacks Py_TPFLAGS_BASETYPE;
// refusing in __init_subclass__ keeps the classes final there as well.
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "the sandrig classes are final and cannot be subclassed");
  return nullptr;
}

PyMethodDef refuse_subclass_method = {"__init_subclass__",
                                      as_cfunction(Edge<&refuse_subclass>::call),
                                      METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};

bool make_final(PyObject* type) {
  OwnedRef method = OwnedRef::steal(
      PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject*>(type), &refuse_subclass_method));
  return method && PyObject_SetAttrString(type, "__init_subclass__", method.get()) == 0;
}
#else
bool make_final(PyObject*) { return true; }  // the missing Py_TPFLAGS_BASETYPE suffices
#endif

}  // namespace

PyResult<OwnedRef> build_final_type(PyType_Spec& spec) {
  if ((spec.flags & Py_TPFLAGS_BASETYPE) != 0) {
    PyErr_Format(PyExc_SystemError, "class %s must be final", spec.name);
    return error_is_set();
  }
  OwnedRef type;
  {
    WarningsSilenced silenced;
    if (!silenced.active()) return error_is_set();
    type = OwnedRef::steal(PyType_FromSpec(&spec));
  }
  if (!type || !make_final(type.get())) return error_is_set();
  OwnedRef module = OwnedRef::steal(PyUnicode_FromString(kModuleName));
  if (!module || PyObject_SetAttrString(type.get(), "__module__", module.get()) < 0) {
    return error_is_set();
  }
  return type;
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

}  // namespace sandrig::py
