// PyTerm: the simple terminal over the filesystem of a PyFs.

#include <memory>
#include <string>

#include "common/mutex.h"
#include "pybinding/arguments.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/edge.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/locked_call.h"
#include "pybinding/py_fs.h"
#include "pybinding/results.h"
#include "terminal/simple_terminal.h"

namespace sandrig::py {
namespace {

using LockedTerminal = Mutex<terminal::SimpleTerminal>;
using Terminals = Native<LockedTerminal>;

const std::string kPoisonMessage = std::string(kPoisonedLock) + ": PyTerm";

PyObject* term_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"fs"}};
  auto bound = bind_arguments("PyTerm.__new__", kParameters, args, kwargs);
  if (!bound) return nullptr;
  if (!require_class(type, ClassId::PyTerm)) return nullptr;
  auto fs = filesystem_argument((*bound)[0], "fs");
  if (!fs) return nullptr;
  auto object = Terminals::create(type, kPoisonMessage, std::move(*fs));
  return object ? object->release() : nullptr;
}

PyObject* term_exec(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"command"}};
  auto bound = bind_arguments("PyTerm.exec", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto terminal = self_value<LockedTerminal>(self, ClassId::PyTerm);
  if (!terminal) return nullptr;
  auto command = text_argument((*bound)[0], "command");
  if (!command) return nullptr;
  // The guard goes before the result becomes a Python object.
  std::expected<std::string, std::string> ran = locked_call(
      **terminal, [&](terminal::SimpleTerminal& shell) { return shell.run(*command); });
  return ran ? text_result(*ran) : raise_message(ran.error());
}

constexpr const char* kClassDoc =
    "PyTerm(fs)\n--\n\n"
    "\nA structure representing a simple terminal\n";

PyMethodDef methods[] = {
    {"exec", as_cfunction(Edge<&term_exec>::call), METH_VARARGS | METH_KEYWORDS,
     "exec($self, command)\n--\n\n"
     "\nExecute a command in the terminal.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, as_slot(Edge<&term_new>::call)},
    {Py_tp_dealloc, as_slot(&Terminals::destroy)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"PyTerm", Terminals::kBasicSize, 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

bool register_py_term(PyObject* module) {
  return register_class(module, ClassId::PyTerm, spec).has_value();
}

}  // namespace sandrig::py
