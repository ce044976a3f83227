#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace sandrig::py {

// Owns one strong reference to a Python object (or nothing) and drops it
// when destroyed, so no path through a function can forget a Py_DECREF.
class OwnedRef {
 public:
  OwnedRef() = default;
  // Takes over a new reference, e.g. the result of a C API call (may be null).
  static OwnedRef steal(PyObject* object) { return OwnedRef(object); }
  // Takes a new reference to a borrowed object.
  static OwnedRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return OwnedRef(object);
  }

  OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    OwnedRef dropped(std::exchange(object_, other.release()));
    return *this;
  }
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  ~OwnedRef() { Py_XDECREF(object_); }

  // The object, still owned by this reference.
  PyObject* get() const { return object_; }
  // Hands the reference to the caller (e.g. as a function's result).
  [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }
  // True when an object is held.
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit OwnedRef(PyObject* object) : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace sandrig::py
