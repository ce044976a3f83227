#include "pybinding/framework/type_builder.h"

#include "pybinding/framework/errors.h"

namespace sandrig::py {
namespace {

PyResult<void> require_final(const PyType_Spec& spec) {
  if ((spec.flags & Py_TPFLAGS_BASETYPE) == 0) return {};
  PyErr_Format(PyExc_SystemError, "class %s must be final", spec.name);
  return error_is_set();
}

}  // namespace

#ifdef PYPY_VERSION
PyResult<OwnedRef> build_final_type(const PyType_Spec& spec, TypeMemory& memory) {
  SANDRIG_TRY(require_final(spec));
  PyTypeObject* type = SANDRIG_TRY(ready_static_type(spec, memory));
  return OwnedRef::borrow(reinterpret_cast<PyObject*>(type));
}

PyResult<void> add_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  return add_static_type_attribute(type, name, value);
}

// PyPy refuses new attributes of a static type itself.
PyResult<void> seal_type(PyTypeObject*) { return {}; }

PyResult<void> document_methods(PyTypeObject* type, std::span<PyMethodDef> functions) {
  for (PyMethodDef& definition : functions) {
    OwnedRef function =
        SANDRIG_TRY(new_reference(PyCFunction_NewEx(&definition, nullptr, nullptr)));
    OwnedRef method = SANDRIG_TRY(new_reference(PyInstanceMethod_New(function.get())));
    SANDRIG_TRY(add_class_attribute(type, definition.ml_name, method.get()));
  }
  return {};
}
#else
PyResult<OwnedRef> build_final_type(PyType_Spec& spec) {
  SANDRIG_TRY(require_final(spec));
  // The name's prefix gives __module__; tp_name, which the interpreter's
  // messages quote, is then the bare name, as __name__ is.
  OwnedRef type = SANDRIG_TRY(new_reference(PyType_FromSpec(&spec)));
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  type_object->tp_name = class_name(type_object);
  return type;
}

PyResult<void> add_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  return status(PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, value));
}

PyResult<void> seal_type(PyTypeObject* type) {
  type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  PyType_Modified(type);
  return {};
}

PyResult<void> document_methods(PyTypeObject*, std::span<PyMethodDef>) { return {}; }
#endif

PyResult<OwnedRef> no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return error_is_set();
}

}  // namespace sandrig::py
