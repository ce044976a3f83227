#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <vector>

#include "pybinding/framework/arguments.h"
#include "pybinding/framework/edge.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/module_state.h"
#include "pybinding/framework/py_result.h"
#include "pybinding/framework/text_signature.h"
#include "pybinding/framework/type_builder.h"

// A class's Python interface is declared once, as constants: each method's
// name, parameters (with their defaults), docstring and handler, and the
// class's name, docstring and constructor. From those declarations come the
// PyMethodDef table, every docstring with its text signature, the calling
// convention of each method and the binding of its arguments; the
// handlers hold only behaviour.

namespace sandrig::py {

template <std::size_t N>
struct MethodHandlerOf {
  using type = PyResult<OwnedRef> (*)(PyObject* self, const BoundArguments<N>& arguments);
};
template <>
struct MethodHandlerOf<0> {
  using type = PyResult<OwnedRef> (*)(PyObject* self);
};

// The behaviour of a method with N parameters: it gets the instance (not
// yet checked to be one of the class) and, if it has parameters, their
// bound arguments.
template <std::size_t N>
using MethodHandler = typename MethodHandlerOf<N>::type;

// One method, declared once. `doc` is the docstring after the text
// signature, which is derived from `name` and `parameters`.
template <std::size_t N>
struct Method {
  static constexpr Receiver kReceiver = Receiver::Method;
  const char* name;
  std::array<Parameter, N> parameters;
  const char* doc;
  MethodHandler<N> handler;
};

// The behaviour of a constructor with N parameters: builds the instance of
// `type` (already checked to be the class itself) from the bound arguments.
template <std::size_t N>
using ConstructorHandler = PyResult<OwnedRef> (*)(PyTypeObject* type,
                                                  const BoundArguments<N>& arguments);

// One class, declared once: its name, docstring (after the constructor's
// text signature, when it has a constructor) and constructor with its N
// parameters; a null constructor means Python code cannot create instances.
template <std::size_t N>
struct ClassDecl {
  static constexpr Receiver kReceiver = Receiver::Class;
  ClassId id;
  const char* name;
  const char* doc;
  std::array<Parameter, N> parameters;
  ConstructorHandler<N> constructor;
};

// The entry points of the method `Decl` of the class `Class`.
template <const auto& Class, const auto& Decl>
struct MethodEntry {
  static constexpr std::size_t kArity = Decl.parameters.size();
  static constexpr std::size_t kRequired = required_count(Decl.parameters);
  static constexpr Callee kCallee{Class.name, Decl.name};

  static PyResult<OwnedRef> no_arguments(PyObject* self, PyObject*) { return Decl.handler(self); }

  // Vectorcall: the arguments come as an array, keyword values after the
  // positional ones, with no tuple or dict built for the call.
  static PyResult<OwnedRef> fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    std::array<PyObject*, kArity> bound{};
    SANDRIG_TRY(bind_vectorcall(kCallee, Decl.parameters, kRequired, args, nargs, kwnames, bound));
    const BoundArguments<kArity> held(bound);
    return Decl.handler(self, held);
  }

  // The method as a plain function (see document_methods): the instance is
  // the first positional argument. The arguments are held (see
  // BoundArguments) before any conversion can run code that drops the
  // caller's references to them.
  static PyResult<OwnedRef> forwarded(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    if (nargs < 1) return raise_missing_instance(kCallee);
    if constexpr (kArity == 0) {
      const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
      if (nargs > 1 || keywords > 0) return raise_no_arguments_taken(kCallee, nargs - 1 + keywords);
      return Decl.handler(args[0]);
    } else {
      return fast(args[0], args + 1, nargs - 1, kwnames);
    }
  }

  // The method's PyMethodDef. A method without parameters takes METH_NOARGS;
  // every parameter may be passed by keyword, so none fits METH_O; the
  // others take vectorcall.
  static PyMethodDef definition() {
    const char* doc = SignatureDoc<Decl>::kText.data();
    if constexpr (kArity == 0) {
      return {Decl.name, as_cfunction(Edge<&no_arguments>::call), METH_NOARGS, doc};
    } else {
      return {Decl.name, as_cfunction(Edge<&fast>::call), METH_FASTCALL | METH_KEYWORDS, doc};
    }
  }

  // The PyMethodDef of the method as a plain function.
  static PyMethodDef function_definition() {
    const char* doc = SignatureDoc<Decl>::kText.data();
    return {Decl.name, as_cfunction(Edge<&forwarded>::call), METH_FASTCALL | METH_KEYWORDS, doc};
  }
};

// The class `Class` with the methods `Methods`, built from their declarations.
template <const auto& Class, const auto&... Methods>
class DeclaredClass {
 public:
  // Builds the class, registers it in `module` (see register_class) and
  // returns it. `basic_size` is its instances' size; `slots` are its
  // behaviour slots (Py_tp_dealloc, Py_tp_str, ...); the docstring, the
  // constructor and the methods come from the declarations.
  static PyResult<PyTypeObject*> register_in(PyObject* module, int basic_size,
                                             std::initializer_list<PyType_Slot> slots) {
    std::vector<PyType_Slot> all = {{Py_tp_doc, const_cast<char*>(doc())}, {Py_tp_new, tp_new()}};
    all.insert(all.end(), slots.begin(), slots.end());
    if constexpr (sizeof...(Methods) > 0) all.push_back({Py_tp_methods, methods.data()});
    all.push_back({0, nullptr});
    PyType_Spec spec = {QualifiedName<Class>::kText.data(), basic_size, 0, Py_TPFLAGS_DEFAULT,
                        all.data()};
    PyTypeObject* type = SANDRIG_TRY(register_class(module, Class.id, spec));
    SANDRIG_TRY(document_methods(type, functions));
    return type;
  }

 private:
  static constexpr std::size_t kArity = Class.parameters.size();
  static constexpr Callee kCallee{Class.name, "__new__"};
  static constexpr bool kConstructible = Class.constructor != nullptr;

  // The interpreter keeps pointing into the table as long as the class lives.
  static inline std::array<PyMethodDef, sizeof...(Methods) + 1> methods = {
      MethodEntry<Class, Methods>::definition()..., PyMethodDef{nullptr, nullptr, 0, nullptr}};

  // The methods as plain functions, for document_methods; as long-lived.
  static inline std::array<PyMethodDef, sizeof...(Methods)> functions = {
      MethodEntry<Class, Methods>::function_definition()...};

  static PyResult<OwnedRef> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, kArity> bound{};
    SANDRIG_TRY(bind_with_dict(kCallee, Class.parameters, tuple_items(args), kwargs, bound));
    const BoundArguments<kArity> held(bound);
    SANDRIG_TRY(require_class(type, Class.id));
    return Class.constructor(type, held);
  }

  static const char* doc() {
    if constexpr (kConstructible) {
      return SignatureDoc<Class>::kText.data();
    } else {
      return Class.doc;
    }
  }

  static void* tp_new() {
    if constexpr (kConstructible) {
      return as_slot(Edge<&construct>::call);
    } else {
      return as_slot(Edge<&no_constructor>::call);
    }
  }
};

}  // namespace sandrig::py
