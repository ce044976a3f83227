#include "pybinding/framework/module_state.h"

#include "pybinding/framework/errors.h"
#include "pybinding/framework/type_builder.h"

namespace sandrig::py {
namespace {

// Per-module storage: the class objects, kept apart from the module's
// attributes so that rebinding an attribute cannot swap a class, and on
// PyPy the memory they live in (see pypy_type.h).
struct ModuleState {
  PyObject* types[kClassCount];  // strong references
#ifdef PYPY_VERSION
  TypeMemory memory[kClassCount];
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
PyResult<void> require_main_interpreter() {
#ifndef PYPY_VERSION  // PyPy has no sub-interpreters
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "module sandrig does not support loading in subinterpreters");
    return error_is_set();
  }
#endif
  return {};
}

#ifdef PYPY_VERSION
PyResult<void> keep_objects(ModuleState& state) {
  for (unsigned number = 0; number < kKeptIntCount; ++number) {
    state.kept_ints[number] =
        SANDRIG_TRY(new_reference(PyLong_FromUnsignedLong(number))).release();
  }
  state.slash = SANDRIG_TRY(new_reference(PyUnicode_FromStringAndSize("/", 1))).release();
  return {};
}
#endif

}  // namespace

PyResult<OwnedRef> initialize_module(PyResult<void> (*register_all)(PyObject* module)) {
  SANDRIG_TRY(require_main_interpreter());
  if (PyObject* existing = module_slot().module) return OwnedRef::borrow(existing);
  OwnedRef module = SANDRIG_TRY(new_reference(PyModule_Create(&module_definition)));
#ifdef PYPY_VERSION
  // A static type is never freed, so neither is the memory it lives in:
  // this reference, never given back, keeps the state even when the
  // initialization fails. The memory is zeroed here, not trusted to be.
  Py_INCREF(module.get());
  state_of(module.get()) = ModuleState{};
  SANDRIG_TRY(keep_objects(state_of(module.get())));
#endif
  // Not every interpreter stores an empty m_doc; the docstring is "" anyway.
  OwnedRef empty = SANDRIG_TRY(new_reference(PyUnicode_FromString("")));
  SANDRIG_TRY(status(PyObject_SetAttrString(module.get(), "__doc__", empty.get())));
  SANDRIG_TRY(register_all(module.get()));
  for (PyObject* type : state_of(module.get()).types) {
    SANDRIG_TRY(seal_type(reinterpret_cast<PyTypeObject*>(type)));
  }
  PyObject* kept = module.release();  // the slot's reference, never dropped
  module_slot() = {kept, &state_of(kept)};
  return OwnedRef::borrow(kept);
}

PyResult<PyTypeObject*> register_class(PyObject* module, ClassId id, PyType_Spec& spec) {
  ModuleState& state = state_of(module);
#ifdef PYPY_VERSION
  OwnedRef type = SANDRIG_TRY(build_final_type(spec, state.memory[static_cast<int>(id)]));
#else
  OwnedRef type = SANDRIG_TRY(build_final_type(spec));
#endif
  PyObject*& slot = state.types[static_cast<int>(id)];
  Py_XDECREF(slot);
  slot = OwnedRef::borrow(type.get()).release();
  const char* name = class_name(reinterpret_cast<PyTypeObject*>(type.get()));
  SANDRIG_TRY(status(PyModule_AddObject(module, name, type.get())));
  return reinterpret_cast<PyTypeObject*>(type.release());  // the attribute took it
}

#ifdef PYPY_VERSION
OwnedRef kept_int(unsigned long long number) {
  const ModuleState* state = module_slot().state;
  if (state == nullptr || number >= kKeptIntCount) return {};
  return OwnedRef::borrow(state->kept_ints[number]);
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
