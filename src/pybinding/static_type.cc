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

// The guards of guard_attributes: the getter, setter and deleter of a
// property of the metatype whose function's self is the attribute's name.

// The attribute `name` of the class `type` as type.__getattribute__ finds
// it: from the dicts along the class's __mro__, bound to the class.
PyObject* inherited_attribute(PyObject* name, PyObject* type) {
  OwnedRef mro = OwnedRef::steal(PyObject_GetAttrString(type, "__mro__"));
  if (!mro) return nullptr;
  OwnedRef bases = OwnedRef::steal(PySequence_Tuple(mro.get()));
  if (!bases) return nullptr;
  for (Py_ssize_t index = 0; index < PyTuple_GET_SIZE(bases.get()); ++index) {
    PyObject* base = PyTuple_GET_ITEM(bases.get(), index);
    OwnedRef dict = OwnedRef::steal(PyObject_GetAttrString(base, "__dict__"));
    if (!dict) return nullptr;
    OwnedRef value = OwnedRef::steal(PyObject_GetItem(dict.get(), name));
    if (!value) {
      if (!PyErr_ExceptionMatches(PyExc_KeyError)) return nullptr;
      PyErr_Clear();
      continue;
    }
    OwnedRef binder = OwnedRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value.get())), "__get__"));
    if (!binder) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
      PyErr_Clear();
      return value.release();  // not a descriptor: the value itself
    }
    return PyObject_CallFunctionObjArgs(binder.get(), value.get(), Py_None, type, nullptr);
  }
  PyErr_Format(PyExc_AttributeError, "type object '%s' has no attribute '%U'",
               class_name(reinterpret_cast<PyTypeObject*>(type)), name);
  return nullptr;
}

// inherited_attribute, with a shortcut for what the classes' own dicts
// hold: Whence.SEEK_SET is read often, and an instance of one of the
// classes binds to nothing.
PyObject* guarded_get(PyObject* name, PyObject* type) {
  auto* type_object = reinterpret_cast<PyTypeObject*>(type);
  PyObject* value = PyDict_GetItemWithError(type_object->tp_dict, name);
  if (value == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    return inherited_attribute(name, type);
  }
  if (Py_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(value))) == Py_TYPE(type)) {
    Py_INCREF(value);
    return value;
  }
  if (descrgetfunc bind = Py_TYPE(value)->tp_descr_get) return bind(value, nullptr, type);
  return inherited_attribute(name, type);
}

PyObject* guarded_set(PyObject* name, PyObject* args) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  if (!PyArg_UnpackTuple(args, "__set__", 2, 2, &type, &value)) return nullptr;
  refuse_class_attribute(type, name, value);
  return nullptr;
}

PyObject* guarded_delete(PyObject* name, PyObject* type) {
  refuse_class_attribute(type, name, nullptr);
  return nullptr;
}

PyMethodDef guard_methods[] = {
    {"__get__", as_cfunction(Edge<&guarded_get>::call), METH_O, nullptr},
    {"__set__", as_cfunction(Edge<&guarded_set>::call), METH_VARARGS, nullptr},
    {"__delete__", as_cfunction(Edge<&guarded_delete>::call), METH_O, nullptr},
};

// Dunder names are looked up on the metatype for the operations of the
// class itself (str(cls) finds __str__ there), so they are not guarded.
bool is_guarded(PyObject* name) {
  if (!PyUnicode_Check(name)) return false;
  const Py_ssize_t length = PyUnicode_GET_LENGTH(name);
  if (length < 4) return true;
  const bool opens = PyUnicode_READ_CHAR(name, 0) == '_' && PyUnicode_READ_CHAR(name, 1) == '_';
  const bool closes = PyUnicode_READ_CHAR(name, length - 1) == '_' &&
                      PyUnicode_READ_CHAR(name, length - 2) == '_';
  return !(opens && closes);
}

// A property of the metatype for the attribute `name`.
PyResult<OwnedRef> guard(PyObject* name) {
  OwnedRef builtins = OwnedRef::steal(PyImport_ImportModule("builtins"));
  if (!builtins) return error_is_set();
  OwnedRef property = OwnedRef::steal(PyObject_GetAttrString(builtins.get(), "property"));
  if (!property) return error_is_set();
  OwnedRef functions[3];
  for (int index = 0; index < 3; ++index) {
    functions[index] = OwnedRef::steal(PyCFunction_NewEx(&guard_methods[index], name, nullptr));
    if (!functions[index]) return error_is_set();
  }
  OwnedRef guarded = OwnedRef::steal(PyObject_CallFunctionObjArgs(
      property.get(), functions[0].get(), functions[1].get(), functions[2].get(), nullptr));
  if (!guarded) return error_is_set();
  return guarded;
}

}  // namespace

PyResult<void> guard_attributes(PyTypeObject* type) {
  PyTypeObject* metatype = Py_TYPE(type);
  PyObject* name = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t position = 0;
  while (PyDict_Next(type->tp_dict, &position, &name, &value)) {
    if (!is_guarded(name)) continue;
    const int known = PyDict_Contains(metatype->tp_dict, name);  // shared by the classes
    if (known < 0) return error_is_set();
    if (known == 1) continue;
    OwnedRef guarded = SANDRIG_TRY(guard(name));
    if (PyDict_SetItem(metatype->tp_dict, name, guarded.get()) < 0) return error_is_set();
  }
  PyType_Modified(metatype);
  return {};
}

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
