#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "pybinding/framework/errors.h"
#include "pybinding/framework/gil_released.h"
#include "pybinding/framework/module_state.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The memory layout of a Python object that holds one native value of type
// T, constructed in place inside the object and destroyed with it.
// `constructed` is false in an object that was allocated without going
// through Native<T>::create: PyPy lets object.__new__(cls) allocate any
// class, leaving zeroed storage that holds no value.
template <typename T>
struct Instance {
  PyObject_HEAD
  bool constructed;
  alignas(T) std::byte storage[sizeof(T)];
};

// Allocates an instance of `type` and guarantees that it holds one
// reference to its (heap) type, which Native<T>::destroy gives back.
// Interpreters differ in whether allocation takes that reference, so the
// count is checked rather than assumed.
inline PyResult<OwnedRef> allocate_instance(PyTypeObject* type) {
  Py_ssize_t before = Py_REFCNT(type);
  OwnedRef object = SANDRIG_TRY(new_reference(PyType_GenericAlloc(type, 0)));
  if (Py_REFCNT(type) == before) Py_INCREF(type);
  return object;
}

// Operations on the native value of a Python object of layout Instance<T>.
template <typename T>
class Native {
 public:
  // The tp_basicsize of the class.
  static constexpr int kBasicSize = static_cast<int>(sizeof(Instance<T>));

  // A new object of `type` whose value is T(args...). If constructing the
  // value throws, the bare object is freed and the exception propagates.
  template <typename... Args>
  static PyResult<OwnedRef> create(PyTypeObject* type, Args&&... args) {
    PyObject* object = SANDRIG_TRY(allocate_instance(type)).release();
    try {
      std::construct_at(pointer(object), std::forward<Args>(args)...);
      instance(object)->constructed = true;
    } catch (...) {
      free_object(object);
      throw;
    }
    return OwnedRef::steal(object);
  }

  // The value of an object created by create() (its type already checked).
  static T& value(PyObject* object) { return *pointer(object); }

  // Whether the object (of this layout) holds a value, i.e. came from create().
  static bool constructed(PyObject* object) { return instance(object)->constructed; }

  // tp_dealloc: destroys the value, frees the object and gives back its
  // type reference.
  static void destroy(PyObject* object) noexcept { destroy_with(object, nullptr); }

  // destroy() that first runs `finish` on the value (e.g. to close it and
  // learn whether that failed). A C++ exception from `finish` is reported
  // through the interpreter's unraisable hook, since nobody can catch it
  // here; an exception already pending in the caller is preserved.
  static void destroy_with(PyObject* object, void (*finish)(T&)) noexcept {
    if (!constructed(object)) {
      // No value to destroy, and the allocation that made the object is not
      // known to have taken a type reference: none is given back.
      Py_TYPE(object)->tp_free(object);
      return;
    }
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (finish != nullptr) {
      try {
        finish(*pointer(object));
      } catch (...) {
        report_finish_failure(object);
      }
    }
    std::destroy_at(pointer(object));
    free_object(object);
    PyErr_Restore(type, value, traceback);
  }

  // destroy_with() for a value whose end waits on the host (a session's
  // close, an account's release): `finish` and the destruction of the
  // value run with the interpreter lock given up. The object is unreachable
  // by then, so no other thread can touch it meanwhile; a failure of
  // `finish` is reported once the lock is back.
  static void destroy_without_gil(PyObject* object, void (*finish)(T&)) noexcept {
    if (!constructed(object)) {
      Py_TYPE(object)->tp_free(object);
      return;
    }
    std::exception_ptr failure;
    {
      GilReleased released;
      if (finish != nullptr) {
        try {
          finish(*pointer(object));
        } catch (...) {
          failure = std::current_exception();
        }
      }
      std::destroy_at(pointer(object));
    }
    if (failure) {
      PyObject* type = nullptr;
      PyObject* value = nullptr;
      PyObject* traceback = nullptr;
      PyErr_Fetch(&type, &value, &traceback);
      try {
        std::rethrow_exception(failure);
      } catch (...) {
        report_finish_failure(object);
      }
      PyErr_Restore(type, value, traceback);
    }
    free_object(object);
  }

 private:
  static Instance<T>* instance(PyObject* object) {
    return reinterpret_cast<Instance<T>*>(object);
  }

  static T* pointer(PyObject* object) {
    return std::launder(reinterpret_cast<T*>(reinterpret_cast<Instance<T>*>(object)->storage));
  }

  // Reports the exception being handled, thrown by a finish step of
  // `object`'s destruction, through the unraisable hook.
  static void report_finish_failure(PyObject* object) noexcept {
    raise_from_current_exception();
    // Never the dying object itself: the hook would take a reference.
    report_unraisable(reinterpret_cast<PyObject*>(Py_TYPE(object)));
  }

  static void free_object(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    type->tp_free(object);
    Py_DECREF(type);
  }
};

// Raises the TypeError for an instance that holds no value (see Instance).
inline std::unexpected<ErrorIsSet> raise_not_constructed(PyObject* object) {
  PyErr_Format(PyExc_TypeError, "'%s' object was not created by its constructor",
               class_name(Py_TYPE(object)));
  return error_is_set();
}

// raise_not_constructed for the argument `name`, prefixed like every
// argument conversion's TypeError.
inline std::unexpected<ErrorIsSet> raise_not_constructed(PyObject* object, const char* name) {
  PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object was not created by its constructor",
               name, class_name(Py_TYPE(object)));
  return error_is_set();
}

// For a constructor (tp_new): refuses to build the class `id` into any
// other type, which PyPy would otherwise let `Cls.__new__(Other)` do.
inline PyResult<void> require_class(PyTypeObject* type, ClassId id) {
  PyTypeObject* own = SANDRIG_TRY(class_type(id));
  if (type == own) return {};
  const char* own_name = class_name(own);
  PyErr_Format(PyExc_TypeError, "%s.__new__(%s): %s is not a subtype of %s", own_name,
               class_name(type), class_name(type), own_name);
  return error_is_set();
}

// The native value of `self`, after checking that it is an instance of
// the class `id` (TypeError naming the class otherwise) that holds a value.
template <typename T>
PyResult<T*> self_value(PyObject* self, ClassId id) {
  PyTypeObject* type = SANDRIG_TRY(class_type(id));
  if (!PyObject_TypeCheck(self, type)) return raise_wrong_type(self, class_name(type));
  if (!Native<T>::constructed(self)) return raise_not_constructed(self);
  return &Native<T>::value(self);
}

}  // namespace sandrig::py
