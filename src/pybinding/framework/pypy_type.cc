#include "pybinding/framework/pypy_type.h"

#ifdef PYPY_VERSION

#include "pybinding/framework/edge.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {
namespace {

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

// The class of an instance is fixed: reading one native layout as another
// would reach memory that is not there.
PyResult<OwnedRef> class_of(PyObject* self, void*) {
  return OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(self)));
}

PyResult<void> refuse_class(PyObject*, PyObject*, void*) {
  PyErr_SetString(PyExc_TypeError,
                  "__class__ assignment only supported for mutable types or ModuleType subclasses");
  return error_is_set();
}

PyGetSetDef fixed_class[] = {
    {"__class__", Edge<&class_of>::call, Edge<&refuse_class>::call, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyResult<PyTypeObject*> ready_static_type(const PyType_Spec& spec, TypeMemory& memory) {
  PyTypeObject& type = memory.type;
  Py_SET_REFCNT(&type, 1);  // the module state's, never given back
  Py_SET_TYPE(&type, &PyType_Type);
  type.tp_name = spec.name;
  type.tp_basicsize = spec.basicsize;
  type.tp_itemsize = spec.itemsize;
  type.tp_flags = spec.flags;
  type.tp_getset = fixed_class;
  SANDRIG_TRY(fill_slots(spec, memory));
  // An empty __slots__ when the type is readied is what keeps a dict out
  // of PyPy's instances; the layout stays once the name is gone.
  OwnedRef dict = SANDRIG_TRY(new_reference(PyDict_New()));
  OwnedRef no_slots = SANDRIG_TRY(new_reference(PyTuple_New(0)));
  SANDRIG_TRY(status(PyDict_SetItemString(dict.get(), "__slots__", no_slots.get())));
  type.tp_dict = dict.release();  // the type's own reference
  SANDRIG_TRY(status(PyType_Ready(&type)));
  SANDRIG_TRY(status(PyDict_DelItemString(type.tp_dict, "__slots__")));
  PyType_Modified(&type);
  return &type;
}

PyResult<void> add_static_type_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  // PyPy lets C code write a ready static type's dict, which Python code cannot.
  SANDRIG_TRY(status(PyDict_SetItemString(type->tp_dict, name, value)));
  PyType_Modified(type);
  return {};
}

}  // namespace sandrig::py

#endif
