#include "pybinding/module_state.h"

#include "pybinding/type_builder.h"

namespace sandrig::py {
namespace {

// Per-module storage: the class objects, kept apart from the module's
// attributes so that rebinding an attribute cannot swap a class, and on
// PyPy the memory they live in (see static_type.h).
struct ModuleState {
  PyObject* types[kClassCount];  // strong references
  TypeMemory memory[kClassCount];
#ifdef PYPY_VERSION
  PyTypeObject metatype;  // the class of the classes
  // Every new int the emulated C API hands over costs ten times a call
  // returning an existing object, and its garbage waits for a major
  // collection; results below kKeptIntCount are these (strong references).
  PyObject* kept_ints[kKeptIntCount];
  PyObject* slash;  // "/", which splits packed names (a strong reference)
#endif
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "sandrig",              // m_name
    "",                     // m_doc: empty on purpose
    sizeof(ModuleState),    // m_size
    nullptr,                // m_methods: no module-level functions
    nullptr, nullptr, nullptr, nullptr,
};

ModuleState& state_of(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The module is built once per process and never freed; this is the one
// place that remembers it, with its state, which every method call reads
// (so the state is not looked up from the module each time).
struct InitializedModule {
  PyObject* module = nullptr;
  ModuleState* state = nullptr;
};

InitializedModule& module_slot() {
  static InitializedModule initialized;
  return initialized;
}

// The module is one per process and belongs to the main interpreter: a
// sub-interpreter tears down the modules it imported when it ends, which
// would empty the main interpreter's module too.
bool in_main_interpreter() {
#ifdef PYPY_VERSION
  return true;  // no sub-interpreters
#else
  if (PyInterpreterState_Get() == PyInterpreterState_Main()) return true;
  PyErr_SetString(PyExc_ImportError,
                  "module sandrig does not support loading in subinterpreters");
  return false;
#endif
}

#ifdef PYPY_VERSION
bool keep_objects(ModuleState& state) {
  for (unsigned number = 0; number < kKeptIntCount; ++number) {
    state.kept_ints[number] = PyLong_FromUnsignedLong(number);
    if (state.kept_ints[number] == nullptr) return false;
  }
  state.slash = PyUnicode_FromStringAndSize("/", 1);
  return state.slash != nullptr;
}
#endif

}  // namespace

PyObject* initialized_module() { return module_slot().module; }

PyObject* initialize_module(bool (*register_all)(PyObject* module)) {
  if (!in_main_interpreter()) return nullptr;
  if (PyObject* existing = module_slot().module) {
    Py_INCREF(existing);
    return existing;
  }
  OwnedRef module = OwnedRef::steal(PyModule_Create(&module_definition));
  if (!module) return nullptr;
#ifdef PYPY_VERSION
  // A static type is never freed, so neither is the memory it lives in:
  // this reference, never given back, keeps the state even when the
  // initialization fails. The memory is zeroed here, not trusted to be.
  Py_INCREF(module.get());
  state_of(module.get()) = ModuleState{};
  if (!ready_sealing_metatype(state_of(module.get()).metatype)) return nullptr;
  if (!keep_objects(state_of(module.get()))) return nullptr;
#endif
  // Not every interpreter stores an empty m_doc; the docstring is "" anyway.
  OwnedRef empty = OwnedRef::steal(PyUnicode_FromString(""));
  if (!empty || PyObject_SetAttrString(module.get(), "__doc__", empty.get()) < 0) return nullptr;
  if (!register_all(module.get())) return nullptr;
  for (PyObject* type : state_of(module.get()).types) {
    if (!seal_type(reinterpret_cast<PyTypeObject*>(type))) return nullptr;
  }
  module_slot() = {module.get(), &state_of(module.get())};
  Py_INCREF(module.get());  // the slot's own reference, never dropped
  return module.release();
}

PyResult<PyTypeObject*> register_class(PyObject* module, ClassId id, PyType_Spec& spec) {
  ModuleState& state = state_of(module);
#ifdef PYPY_VERSION
  PyTypeObject* metatype = &state.metatype;
#else
  PyTypeObject* metatype = nullptr;
#endif
  auto type = build_final_type(spec, state.memory[static_cast<int>(id)], metatype);
  if (!type) return error_is_set();
  PyObject*& slot = state.types[static_cast<int>(id)];
  Py_XDECREF(slot);
  slot = OwnedRef::borrow(type->get()).release();
  if (PyModule_AddObject(module, spec.name, type->get()) < 0) return error_is_set();
  return reinterpret_cast<PyTypeObject*>(type->release());  // the attribute took it
}

#ifdef PYPY_VERSION
PyObject* kept_int(unsigned long long number) {
  const ModuleState* state = module_slot().state;
  if (state == nullptr || number >= kKeptIntCount) return nullptr;
  return OwnedRef::borrow(state->kept_ints[number]).release();
}

PyObject* kept_slash() {
  const ModuleState* state = module_slot().state;
  return state == nullptr ? nullptr : state->slash;
}
#endif

PyResult<PyTypeObject*> class_type(ClassId id) {
  const ModuleState* state = module_slot().state;
  PyObject* type = state == nullptr ? nullptr : state->types[static_cast<int>(id)];
  if (type == nullptr) {
    PyErr_SetString(PyExc_SystemError, "sandrig: class used before its registration");
    return error_is_set();
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace sandrig::py
