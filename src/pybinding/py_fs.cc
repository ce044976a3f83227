#include "pybinding/py_fs.h"

#include <array>
#include <string>

#include "fs/file_handle.h"
#include "fs/file_handle_type.h"
#include "fs/tree_rendering.h"
#include "pybinding/arguments.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/edge.h"
#include "pybinding/errors.h"
#include "pybinding/instance.h"
#include "pybinding/py_file_handle.h"
#include "pybinding/results.h"

namespace sandrig::py {
namespace {

using Fs = Native<PyFsValue>;

PyResult<const fs::FileSystem*> filesystem_of(PyObject* self) {
  auto value = self_value<PyFsValue>(self, ClassId::PyFs);
  if (!value) return error_is_set();
  return (*value)->get();
}

// A success without a value becomes None, an IoError a ValueError.
PyObject* unit_result(const fs::IoResult<void>& result) {
  return result ? none_result() : raise_io_error(result.error());
}

PyObject* fs_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (!bind_into("PyFs.__new__", {}, args, kwargs, {})) return nullptr;
  if (!require_class(type, ClassId::PyFs)) return nullptr;
  auto object = Fs::create(type, std::make_shared<fs::FileSystem>());
  return object ? object->release() : nullptr;
}

PyObject* fs_str(PyObject* self) {
  auto fs = filesystem_of(self);
  if (!fs) return nullptr;
  return text_result((*fs)->debug());
}

// mkdir and touch share their shape: one path, one operation.
template <fs::IoResult<void> (fs::FileSystem::*Operation)(std::string_view) const>
PyObject* path_operation(const char* function, PyObject* self, PyObject* args,
                         PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"path"}};
  auto bound = bind_arguments(function, kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto fs = filesystem_of(self);
  if (!fs) return nullptr;
  auto path = text_argument((*bound)[0], "path");
  if (!path) return nullptr;
  return unit_result(((*fs)->*Operation)(*path));
}

PyObject* fs_mkdir(PyObject* self, PyObject* args, PyObject* kwargs) {
  return path_operation<&fs::FileSystem::mkdir>("PyFs.mkdir", self, args, kwargs);
}

PyObject* fs_touch(PyObject* self, PyObject* args, PyObject* kwargs) {
  return path_operation<&fs::FileSystem::touch>("PyFs.touch", self, args, kwargs);
}

PyObject* fs_open(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"path"}, {"mode"}};
  auto bound = bind_arguments("PyFs.open", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto value = self_value<PyFsValue>(self, ClassId::PyFs);
  if (!value) return nullptr;
  auto path = text_argument((*bound)[0], "path");
  if (!path) return nullptr;
  auto mode_text = text_argument((*bound)[1], "mode");
  if (!mode_text) return nullptr;
  // The mode is checked before the path is touched, so a bad mode fails
  // alike for existing and missing files.
  auto mode = fs::FileHandleType::from_str(*mode_text);
  if (!mode) return raise_io_error(mode.error());
  auto handle = fs::FileSystem::open(**value, *path, *mode, /*create=*/true);
  if (!handle) return raise_io_error(handle.error());
  auto object = new_py_file_handle(std::move(*handle));
  return object ? object->release() : nullptr;
}

PyObject* fs_listdir(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"path"}};
  auto bound = bind_arguments("PyFs.listdir", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto fs = filesystem_of(self);
  if (!fs) return nullptr;
  auto path = text_argument((*bound)[0], "path");
  if (!path) return nullptr;
  auto id = (*fs)->get_inode_by_path_raw(*path);
  if (!id) return raise_io_error(id.error());
  auto listing = (*fs)->ls_raw(*id);
  if (!listing) return raise_io_error(listing.error());
  OwnedRef files = OwnedRef::steal(names_result(listing->files));
  if (!files) return nullptr;
  OwnedRef directories = OwnedRef::steal(names_result(listing->directories));
  if (!directories) return nullptr;
  return PyTuple_Pack(2, files.get(), directories.get());
}

PyObject* fs_remove(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"path"}, {"recurse", false}};
  auto bound = bind_arguments("PyFs.remove", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto fs = filesystem_of(self);
  if (!fs) return nullptr;
  auto path = text_argument((*bound)[0], "path");
  if (!path) return nullptr;
  bool recurse = false;
  if ((*bound)[1] != nullptr) {
    auto flag = bool_argument((*bound)[1], "recurse");
    if (!flag) return nullptr;
    recurse = *flag;
  }
  return unit_result((*fs)->rm(*path, recurse));
}

PyObject* fs_tree(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"path"}, {"ident", false}};
  auto bound = bind_arguments("PyFs.tree", kParameters, args, kwargs);
  if (!bound) return nullptr;
  auto fs = filesystem_of(self);
  if (!fs) return nullptr;
  auto path = text_argument((*bound)[0], "path");
  if (!path) return nullptr;
  auto ident = optional_argument((*bound)[1], "ident", text_argument);
  if (!ident) return nullptr;
  auto rendered = fs::render_tree(**fs, *path, ident->value_or(""));
  if (!rendered) return raise_io_error(rendered.error());
  return text_result(*rendered);
}

constexpr const char* kClassDoc =
    "PyFs()\n--\n\n"
    "\nA highly simplified Python binding for a simple in-memory filesystem."
    "\n\nThis class is a simple wrapper around the FileSystem struct. It defines\n"
    "the basis for a small filesystem that can be used in Python. The filesystem\n"
    "can handle files, nested directories and symlinks.\n\n"
    "The filesystem is thread-safe and can be shared between multiple threads.\n";

PyMethodDef methods[] = {
    {"mkdir", as_cfunction(Edge<&fs_mkdir>::call), METH_VARARGS | METH_KEYWORDS,
     "mkdir($self, path)\n--\n\n"
     "\nCreate a new directory in the filesystem.\n\n"
     "This function creates a new directory in the filesystem. The function will\n"
     "return an error if the directory could not be created.\n"},
    {"touch", as_cfunction(Edge<&fs_touch>::call), METH_VARARGS | METH_KEYWORDS,
     "touch($self, path)\n--\n\n"
     "\nCreate a new file in the filesystem.\n\n"
     "This function creates a new file in the filesystem. The function will return\n"
     "an error if the file could not be created.\n"},
    {"open", as_cfunction(Edge<&fs_open>::call), METH_VARARGS | METH_KEYWORDS,
     "open($self, path, mode)\n--\n\n"
     "\nOpen a file in the filesystem.\n\n"
     "This function opens a file in the filesystem. The function will return a file\n"
     "handle that can be used to read and write data to the file. The function will\n"
     "return an error if the file could not be opened.\n"},
    {"listdir", as_cfunction(Edge<&fs_listdir>::call), METH_VARARGS | METH_KEYWORDS,
     "listdir($self, path)\n--\n\n"
     "\nList the contents of a directory in the filesystem.\n\n"
     "This function returns a tuple of two lists: first the names of the entries\n"
     "that are not directories, then the names of the directories. The function\n"
     "will return an error if the path does not name a directory.\n"},
    {"remove", as_cfunction(Edge<&fs_remove>::call), METH_VARARGS | METH_KEYWORDS,
     "remove($self, path, recurse=False)\n--\n\n"
     "\nRemove a file from the filesystem.\n"},
    {"tree", as_cfunction(Edge<&fs_tree>::call), METH_VARARGS | METH_KEYWORDS,
     "tree($self, path, ident=None)\n--\n\n"
     "\nDebug the file system\n\n"
     "This function will return a debug representation of the filesystem as a string.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, as_slot(Edge<&fs_new>::call)},
    {Py_tp_dealloc, as_slot(&Fs::destroy)},
    {Py_tp_str, as_slot(Edge<&fs_str>::call)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"PyFs", Fs::kBasicSize, 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyResult<std::shared_ptr<fs::FileSystem>> filesystem_argument(PyObject* value, const char* name) {
  auto type = class_type(ClassId::PyFs);
  if (!type) return error_is_set();
  auto object = instance_argument(value, name, *type);
  if (!object) return error_is_set();
  if (!Fs::constructed(*object)) return raise_not_constructed(*object, name);
  return Fs::value(*object);
}

bool register_py_fs(PyObject* module) {
  return register_class(module, ClassId::PyFs, spec).has_value();
}

}  // namespace sandrig::py
