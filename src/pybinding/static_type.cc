#include "pybinding/static_type.h"

#include <cstdio>
#include <string_view>

#include "pybinding/edge.h"
#include "pybinding/owned_ref.h"

namespace sandrig::py {

#ifndef PYPY_VERSION
const char* class_name(PyTypeObject* type) { return type->tp_name; }
#else
namespace {

constexpr std::string_view kClassPrefix = "sandrig.";

// CPython's refusal for an immutable type, for setting and deleting alike.
int refuse_class_attribute(PyObject* type, PyObject* name, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot set %R attribute of immutable type '%s'", name,
               class_name(reinterpret_cast<PyTypeObject*>(type)));
  return -1;
}

std::unexpected<ErrorIsSet> unsupported_slot(const PyType_Spec& spec, int slot) {
  PyErr_Format(PyExc_SystemError, "class %s: slot %d has no static type field", spec.name, slot);
  return error_is_set();
}

// Copies the slots of `spec` into the fields of `memory`.
PyResult<void> fill_slots(const PyType_Spec& spec, TypeMemory& memory) {
  PyTypeObject& type = memory.type;
  for (const PyType_Slot* slot = spec.slots; slot->slot != 0; ++slot) {
    void* value = slot->pfunc;
    switch (slot->slot) {
      case Py_tp_doc:
        type.tp_doc = static_cast<const char*>(value);
        break;
      case Py_tp_new:
        type.tp_new = reinterpret_cast<newfunc>(value);
        break;
      case Py_tp_dealloc:
        type.tp_dealloc = reinterpret_cast<destructor>(value);
        break;
      case Py_tp_repr:
        type.tp_repr = reinterpret_cast<reprfunc>(value);
        break;
      case Py_tp_str:
        type.tp_str = reinterpret_cast<reprfunc>(value);
        break;
      case Py_tp_richcompare:
        type.tp_richcompare = reinterpret_cast<richcmpfunc>(value);
        break;
      case Py_tp_methods:
        type.tp_methods = static_cast<PyMethodDef*>(value);
        break;
      case Py_tp_getset:
        type.tp_getset = static_cast<PyGetSetDef*>(value);
        break;
      case Py_nb_int:
        memory.number.nb_int = reinterpret_cast<unaryfunc>(value);
        type.tp_as_number = &memory.number;
        break;
      default:
        return unsupported_slot(spec, slot->slot);
    }
  }
  return {};
}

}  // namespace

// A heap type may be named "sandrig.X" by Python code; only the static
// ones are the module's.
const char* class_name(PyTypeObject* type) {
  const std::string_view name = type->tp_name;
  if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) == 0 && name.starts_with(kClassPrefix)) {
    return type->tp_name + kClassPrefix.size();
  }
  return type->tp_name;
}

PyResult<void> ready_sealing_metatype(PyTypeObject& metatype) {
  Py_SET_REFCNT(&metatype, 1);  // the module state's, never given back
  metatype.tp_name = "sandrig.ImmutableType";
  metatype.tp_basicsize = PyType_Type.tp_basicsize;
  metatype.tp_flags = Py_TPFLAGS_DEFAULT;
  metatype.tp_base = &PyType_Type;
  metatype.tp_setattro = Edge<&refuse_class_attribute>::call;
  if (PyType_Ready(&metatype) < 0) return error_is_set();
  return {};
}

PyResult<PyTypeObject*> ready_static_type(const PyType_Spec& spec, TypeMemory& memory,
                                          PyTypeObject& metatype) {
  const int length = std::snprintf(memory.qualified_name, sizeof memory.qualified_name, "%.*s%s",
                                   static_cast<int>(kClassPrefix.size()), kClassPrefix.data(),
                                   spec.name);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof memory.qualified_name) {
    PyErr_Format(PyExc_SystemError, "class name %s is too long", spec.name);
    return error_is_set();
  }
  PyTypeObject& type = memory.type;
  Py_SET_REFCNT(&type, 1);  // the module state's, never given back
  Py_SET_TYPE(&type, &metatype);
  type.tp_name = memory.qualified_name;
  type.tp_basicsize = spec.basicsize;
  type.tp_itemsize = spec.itemsize;
  type.tp_flags = spec.flags;
  SANDRIG_TRY(fill_slots(spec, memory));
  // An empty __slots__ when the type is made is what keeps a dict out of
  // PyPy's instances; the layout stays once the name is gone.
  OwnedRef dict = OwnedRef::steal(PyDict_New());
  OwnedRef no_slots = OwnedRef::steal(PyTuple_New(0));
  if (!dict || !no_slots || PyDict_SetItemString(dict.get(), "__slots__", no_slots.get()) < 0) {
    return error_is_set();
  }
  type.tp_dict = dict.release();  // the type's own reference
  if (PyType_Ready(&type) < 0) return error_is_set();
  if (PyDict_DelItemString(type.tp_dict, "__slots__") < 0) return error_is_set();
  PyType_Modified(&type);
  return &type;
}

PyResult<void> add_static_type_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  if (PyDict_SetItemString(type->tp_dict, name, value) < 0) return error_is_set();
  PyType_Modified(type);
  return {};
}

#endif

}  // namespace sandrig::py
