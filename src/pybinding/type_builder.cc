#include "pybinding/type_builder.h"

#include <vector>

#include "pybinding/edge.h"
#include "pybinding/static_type.h"

namespace sandrig::py {
namespace {

// Some interpreters warn (DeprecationWarning) when a PyType_Spec name carries no
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
// PyPy lets Python code subclass a type that lacks Py_TPFLAGS_BASETYPE;
// refusing in __init_subclass__ keeps the classes final there as well.
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "the sandrig classes are final and cannot be subclassed");
  return nullptr;
}

PyMethodDef refuse_subclass_method = {"__init_subclass__",
                                      as_cfunction(Edge<&refuse_subclass>::call),
                                      METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};

// A __setattr__ (and __delattr__) in the type refuses attributes, and a
// non-str name, with the texts of the other interpreters, which name the
// class without the module prefix of its tp_name.
bool check_attribute_name(PyObject* name) {
  if (PyUnicode_Check(name)) return true;
  PyErr_Format(PyExc_TypeError, "attribute name must be string, not '%.200s'",
               class_name(Py_TYPE(name)));
  return false;
}

PyObject* refuse_attribute(PyObject* self, PyObject* args, PyObject*) {
  PyObject* name = nullptr;
  PyObject* value = nullptr;
  if (!PyArg_UnpackTuple(args, "__setattr__", 2, 2, &name, &value)) return nullptr;
  if (!check_attribute_name(name)) return nullptr;
  PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '%U'",
               class_name(Py_TYPE(self)), name);
  return nullptr;
}

PyObject* refuse_deletion(PyObject* self, PyObject* args, PyObject*) {
  PyObject* name = nullptr;
  if (!PyArg_UnpackTuple(args, "__delattr__", 1, 1, &name)) return nullptr;
  if (!check_attribute_name(name)) return nullptr;
  PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '%U'",
               class_name(Py_TYPE(self)), name);
  return nullptr;
}

PyMethodDef refuse_deletion_method = {"__delattr__", as_cfunction(Edge<&refuse_deletion>::call),
                                      METH_VARARGS | METH_KEYWORDS, nullptr};

// PyPy would copy an instance through its reduce protocol into a new,
// empty object; refused here as the other interpreters refuse it.
PyObject* refuse_pickle(PyObject* self, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot pickle '%s' object", class_name(Py_TYPE(self)));
  return nullptr;
}

PyMethodDef refuse_reduce_methods[] = {
    {"__reduce__", as_cfunction(Edge<&refuse_pickle>::call), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"__reduce_ex__", as_cfunction(Edge<&refuse_pickle>::call), METH_VARARGS | METH_KEYWORDS,
     nullptr},
};

// Reading an instance's __dict__ fails as it does for a class without one
// elsewhere, with the same text.
PyObject* no_dict(PyObject* self, void*) {
  PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '__dict__'",
               class_name(Py_TYPE(self)));
  return nullptr;
}

int refuse_dict(PyObject* self, PyObject*, void*) {
  no_dict(self, nullptr);
  return -1;
}

// PyPy lets object.__setattr__ change an instance's class, which would read
// one native layout as another; the class of an instance is fixed.
PyObject* class_of(PyObject* self, void*) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  Py_INCREF(type);
  return type;
}

int refuse_class(PyObject*, PyObject*, void*) {
  PyErr_SetString(PyExc_TypeError,
                  "__class__ assignment only supported for mutable types or ModuleType subclasses");
  return -1;
}

// Given to the type through its PyType_Spec: a type's own __dict__ and __class__
// cannot be set as attributes once it exists.
PyGetSetDef fixed_attributes[] = {
    {"__dict__", Edge<&no_dict>::call, Edge<&refuse_dict>::call, nullptr, nullptr},
    {"__class__", Edge<&class_of>::call, Edge<&refuse_class>::call, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The type of `spec` as a static type in `memory`, built with
// fixed_attributes added to its slots (no class has getters and setters of
// its own).
PyResult<OwnedRef> type_from_spec(const PyType_Spec& spec, TypeMemory& memory,
                                  PyTypeObject* metatype) {
  std::vector<PyType_Slot> slots;
  for (const PyType_Slot* slot = spec.slots; slot->slot != 0; ++slot) slots.push_back(*slot);
  slots.push_back({Py_tp_getset, fixed_attributes});
  slots.push_back({0, nullptr});
  PyType_Spec extended = spec;
  extended.slots = slots.data();
  PyTypeObject* type = SANDRIG_TRY(ready_static_type(extended, memory, *metatype));
  return OwnedRef::borrow(reinterpret_cast<PyObject*>(type));
}

PyMethodDef refuse_attribute_method = {"__setattr__",
                                       as_cfunction(Edge<&refuse_attribute>::call),
                                       METH_VARARGS | METH_KEYWORDS, nullptr};

bool set_descriptor(PyObject* type, const char* name, OwnedRef descriptor) {
  return descriptor &&
         add_static_type_attribute(reinterpret_cast<PyTypeObject*>(type), name, descriptor.get());
}

bool make_final(PyObject* type) {
  auto* type_object = reinterpret_cast<PyTypeObject*>(type);
  if (!set_descriptor(type, "__init_subclass__",
                      OwnedRef::steal(PyDescr_NewClassMethod(type_object, &refuse_subclass_method))) ||
      !set_descriptor(type, "__setattr__",
                      OwnedRef::steal(PyDescr_NewMethod(type_object, &refuse_attribute_method))) ||
      !set_descriptor(type, "__delattr__",
                      OwnedRef::steal(PyDescr_NewMethod(type_object, &refuse_deletion_method)))) {
    return false;
  }
  for (PyMethodDef& method : refuse_reduce_methods) {
    if (!set_descriptor(type, method.ml_name,
                        OwnedRef::steal(PyDescr_NewMethod(type_object, &method)))) {
      return false;
    }
  }
  return true;
}

// The static types and their metatype (see static_type.h) refuse
// attributes from the start; the attributes they have are guarded once
// they have them all. Their tp_name gives their __module__.
PyResult<void> seal(PyTypeObject* type) { return guard_attributes(type); }
PyResult<void> set_module(PyObject*) { return {}; }
#else
bool make_final(PyObject*) { return true; }  // the missing Py_TPFLAGS_BASETYPE suffices

PyResult<OwnedRef> type_from_spec(PyType_Spec& spec, TypeMemory&, PyTypeObject*) {
  WarningsSilenced silenced;
  if (!silenced.active()) return error_is_set();
  OwnedRef type = OwnedRef::steal(PyType_FromSpec(&spec));
  if (!type) return error_is_set();
  return type;
}

constexpr const char* kModuleName = "sandrig";

PyResult<void> set_module(PyObject* type) {
  OwnedRef module = OwnedRef::steal(PyUnicode_FromString(kModuleName));
  if (!module || PyObject_SetAttrString(type, "__module__", module.get()) < 0) {
    return error_is_set();
  }
  return {};
}

// Attributes of the class itself can no longer be set or deleted.
PyResult<void> seal(PyTypeObject* type) {
  type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  PyType_Modified(type);
  return {};
}
#endif

}  // namespace

PyResult<OwnedRef> build_final_type(PyType_Spec& spec, TypeMemory& memory,
                                    PyTypeObject* metatype) {
  if ((spec.flags & Py_TPFLAGS_BASETYPE) != 0) {
    PyErr_Format(PyExc_SystemError, "class %s must be final", spec.name);
    return error_is_set();
  }
  OwnedRef type = SANDRIG_TRY(type_from_spec(spec, memory, metatype));
  if (!make_final(type.get())) return error_is_set();
  SANDRIG_TRY(set_module(type.get()));
  return type;
}

PyResult<void> add_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
#ifdef PYPY_VERSION
  return add_static_type_attribute(type, name, value);
#else
  if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, value) < 0) {
    return error_is_set();
  }
  return {};
#endif
}

PyResult<void> seal_type(PyTypeObject* type) { return seal(type); }

PyResult<void> document_methods([[maybe_unused]] PyTypeObject* type,
                                [[maybe_unused]] std::span<PyMethodDef> functions) {
#ifdef PYPY_VERSION
  for (PyMethodDef& definition : functions) {
    OwnedRef function = OwnedRef::steal(PyCFunction_NewEx(&definition, nullptr, nullptr));
    if (!function) return error_is_set();
    OwnedRef method = OwnedRef::steal(PyInstanceMethod_New(function.get()));
    if (!method) return error_is_set();
    SANDRIG_TRY(add_class_attribute(type, definition.ml_name, method.get()));
  }
#endif
  return {};
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

}  // namespace sandrig::py
