// PyTerm: the simple terminal over the filesystem of a PyFs.

#include <memory>
#include <string>

#include "common/mutex.h"
#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/locked_call.h"
#include "pybinding/framework/results.h"
#include "pybinding/py_fs.h"
#include "terminal/simple_terminal.h"

namespace sandrig::py {
namespace {

using LockedTerminal = Mutex<terminal::SimpleTerminal>;
using Terminals = Native<LockedTerminal>;

const std::string kPoisonMessage = std::string(kPoisonedLock) + ": PyTerm";

PyResult<OwnedRef> term_new(PyTypeObject* type, const BoundArguments<1>& arguments) {
  std::shared_ptr<fs::FileSystem> fs = SANDRIG_TRY(filesystem_argument(arguments[0], "fs"));
  return Terminals::create(type, kPoisonMessage, std::move(fs));
}

PyResult<OwnedRef> term_exec(PyObject* self, const BoundArguments<1>& arguments) {
  LockedTerminal* terminal = SANDRIG_TRY(self_value<LockedTerminal>(self, ClassId::PyTerm));
  std::string_view command = SANDRIG_TRY(text_argument(arguments[0], "command"));
  // The guard goes before the result becomes a Python object.
  std::expected<std::string, std::string> ran = locked_call(
      *terminal, [&](terminal::SimpleTerminal& shell) { return shell.run(command); });
  if (!ran) return raise_message(ran.error());
  return text_result(*ran);
}

constexpr ClassDecl<1> kPyTerm{ClassId::PyTerm, "PyTerm",
                               "\nA structure representing a simple terminal\n", {{{"fs"}}},
                               &term_new};

constexpr Method<1> kExec{"exec", {{{"command"}}}, "\nExecute a command in the terminal.\n",
                          &term_exec};

using PyTermClass = DeclaredClass<kPyTerm, kExec>;

}  // namespace

template <>
PyResult<void> register_class_of<ClassId::PyTerm>(PyObject* module) {
  SANDRIG_TRY(PyTermClass::register_in(module, Terminals::kBasicSize,
                                       {{Py_tp_dealloc, as_slot(&Terminals::destroy)}}));
  return {};
}

}  // namespace sandrig::py
