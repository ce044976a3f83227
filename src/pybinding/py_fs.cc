#include "pybinding/py_fs.h"

#include <array>
#include <optional>
#include <string>

#include "fs/file_handle.h"
#include "fs/file_handle_type.h"
#include "fs/tree_rendering.h"
#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/results.h"
#include "pybinding/py_file_handle.h"

namespace sandrig::py {
namespace {

using Fs = Native<PyFsValue>;

// A listing of at most this many names is kept in the listing cache only
// from its second listing on (see fs_listdir). On CPython, where a slice
// costs little against making the names again, every listing is kept at
// once.
#ifdef PYPY_VERSION
constexpr std::size_t kListedOnceNames = 64;
#else
constexpr std::size_t kListedOnceNames = 0;
#endif

// The most memory a PyFs keeps between listings for their names.
constexpr std::size_t kListingRoom = 16384;

PyResult<const fs::FileSystem*> filesystem_of(PyObject* self) {
  return SANDRIG_TRY(self_value<PyFsValue>(self, ClassId::PyFs))->fs.get();
}

// A success without a value becomes None, an IoError a ValueError.
PyResult<OwnedRef> unit_result(const fs::IoResult<void>& result) {
  if (!result) return raise_io_error(result.error());
  return none_result();
}

PyResult<OwnedRef> fs_new(PyTypeObject* type, const BoundArguments<0>&) {
  return Fs::create(type, std::make_shared<fs::FileSystem>());
}

PyResult<OwnedRef> fs_str(PyObject* self) {
  return text_result(SANDRIG_TRY(filesystem_of(self))->debug());
}

// mkdir and touch share their shape: one path, one operation.
template <fs::IoResult<void> (fs::FileSystem::*Operation)(std::string_view) const>
PyResult<OwnedRef> path_operation(PyObject* self, const BoundArguments<1>& arguments) {
  const fs::FileSystem* fs = SANDRIG_TRY(filesystem_of(self));
  std::string_view path = SANDRIG_TRY(text_argument(arguments[0], "path"));
  return unit_result((fs->*Operation)(path));
}

PyResult<OwnedRef> fs_open(PyObject* self, const BoundArguments<2>& arguments) {
  PyFsValue* value = SANDRIG_TRY(self_value<PyFsValue>(self, ClassId::PyFs));
  std::string_view path = SANDRIG_TRY(text_argument(arguments[0], "path"));
  std::string_view mode_text = SANDRIG_TRY(text_argument(arguments[1], "mode"));
  // The mode is checked before the path is touched, so a bad mode fails
  // alike for existing and missing files.
  auto mode = fs::FileHandleType::from_str(mode_text);
  if (!mode) return raise_io_error(mode.error());
  auto handle = fs::FileSystem::open(value->fs, path, *mode, /*create=*/true);
  if (!handle) return raise_io_error(handle.error());
  return new_py_file_handle(std::move(*handle));
}

// listdir's result from a list of every name, the first `files` of them
// files: two fresh lists cut from it, which the caller may change.
PyResult<OwnedRef> cut_listing(PyObject* names, std::size_t files) {
  const auto split = static_cast<Py_ssize_t>(files);
  OwnedRef file_list = SANDRIG_TRY(new_reference(PyList_GetSlice(names, 0, split)));
  OwnedRef directory_list =
      SANDRIG_TRY(new_reference(PyList_GetSlice(names, split, PY_SSIZE_T_MAX)));
  return new_reference(PyTuple_Pack(2, file_list.get(), directory_list.get()));
}

// listdir's result from a fresh list of every name, `files` of them files,
// that nobody else holds: it becomes one of the two lists itself. Each new
// object costs a crossing on PyPy, whatever it holds, so a listing of one
// kind, the common case, costs one new empty list instead of two slices.
PyResult<OwnedRef> split_listing(OwnedRef names, std::size_t files, std::size_t count) {
  if (files == count || files == 0) {
    OwnedRef empty = SANDRIG_TRY(new_reference(PyList_New(0)));
    return files == 0 ? new_reference(PyTuple_Pack(2, empty.get(), names.get()))
                      : new_reference(PyTuple_Pack(2, names.get(), empty.get()));
  }
  const auto split = static_cast<Py_ssize_t>(files);
  OwnedRef directory_list =
      SANDRIG_TRY(new_reference(PyList_GetSlice(names.get(), split, PY_SSIZE_T_MAX)));
  if (PyList_SetSlice(names.get(), split, PY_SSIZE_T_MAX, nullptr) != 0) return error_is_set();
  return new_reference(PyTuple_Pack(2, names.get(), directory_list.get()));
}

PyResult<OwnedRef> fs_listdir(PyObject* self, const BoundArguments<1>& arguments) {
  PyFsValue* value = SANDRIG_TRY(self_value<PyFsValue>(self, ClassId::PyFs));
  std::string_view path = SANDRIG_TRY(text_argument(arguments[0], "path"));
  // The cached list is held here: building objects below may run code
  // that lists again and replaces it.
  std::optional<ListingCache::Hit> cached;
  const auto seen_of = [&](fs::InodeId directory) -> std::optional<std::uint64_t> {
    cached = value->listings.find(directory);
    return cached ? std::optional(cached->stamp) : std::nullopt;
  };
  // The listing is packed in place: no Python code runs until it is done.
  fs::InodeId id = 0;
  auto changed = value->fs->ls_packed_at(path, seen_of, id, value->listing_room);
  if (!changed) return raise_io_error(changed.error());
  if (!*changed) return cut_listing(cached->names.get(), cached->files);  // unchanged
  // Taken out while the names are built: a listing run by code that
  // building objects may start finds none and makes its own.
  fs::PackedListing packed = std::move(value->listing_room);
  // Every name goes into one list, built at once.
  const std::size_t files = packed.files.count;
  fs::PackedNames& every = packed.files;
  if (packed.directories.count > 0) {
    every.text += packed.directories.text;
    every.count += packed.directories.count;
  }
  OwnedRef names = SANDRIG_TRY(names_result(every));
  const std::size_t count = every.count;
  const std::uint64_t stamp = packed.stamp;
  const bool stable = packed.stable;
  // Its memory serves the next listing, unless a large listing made it
  // large.
  if (every.text.capacity() <= kListingRoom) value->listing_room = std::move(packed);
  if (stable) {
    // A small listing is kept only when its directory is listed again
    // unchanged: the first time the list itself is handed out and only
    // its stamp is kept. A program that lists many small directories once
    // each (a walk over a tree) saves the cache's copy of every one; one
    // that lists a small directory again pays one more building of it. A
    // large listing is kept at once: building it again would cost more
    // than every cut it saves.
    if (value->listings.marked(id, stamp) || count > kListedOnceNames) {
      value->listings.store(id, stamp, names.get(), count, files);
      return cut_listing(names.get(), files);
    }
    value->listings.mark(id, stamp);
  }
  return split_listing(std::move(names), files, count);
}

PyResult<OwnedRef> fs_remove(PyObject* self, const BoundArguments<2>& arguments) {
  const fs::FileSystem* fs = SANDRIG_TRY(filesystem_of(self));
  std::string_view path = SANDRIG_TRY(text_argument(arguments[0], "path"));
  // Omitted means False.
  const bool recurse =
      arguments[1] != nullptr && SANDRIG_TRY(bool_argument(arguments[1], "recurse"));
  return unit_result(fs->rm(path, recurse));
}

PyResult<OwnedRef> fs_tree(PyObject* self, const BoundArguments<2>& arguments) {
  const fs::FileSystem* fs = SANDRIG_TRY(filesystem_of(self));
  std::string_view path = SANDRIG_TRY(text_argument(arguments[0], "path"));
  auto ident = SANDRIG_TRY(optional_argument(arguments[1], "ident", text_argument));
  auto rendered = fs::render_tree(*fs, path, ident.value_or(""));
  if (!rendered) return raise_io_error(rendered.error());
  return text_result(*rendered);
}

constexpr ClassDecl<0> kPyFs{
    ClassId::PyFs, "PyFs",
    "\nA highly simplified Python binding for a simple in-memory filesystem."
    "\n\nThis class is a simple wrapper around the FileSystem struct. It defines\n"
    "the basis for a small filesystem that can be used in Python. The filesystem\n"
    "can handle files, nested directories and symlinks.\n\n"
    "The filesystem is thread-safe and can be shared between multiple threads.\n",
    {}, &fs_new};

constexpr Method<1> kMkdir{
    "mkdir", {{{"path"}}},
    "\nCreate a new directory in the filesystem.\n\n"
    "This function creates a new directory in the filesystem. The function will\n"
    "return an error if the directory could not be created.\n",
    &path_operation<&fs::FileSystem::mkdir>};

constexpr Method<1> kTouch{
    "touch", {{{"path"}}},
    "\nCreate a new file in the filesystem.\n\n"
    "This function creates a new file in the filesystem. The function will return\n"
    "an error if the file could not be created.\n",
    &path_operation<&fs::FileSystem::touch>};

constexpr Method<2> kOpen{
    "open", {{{"path"}, {"mode"}}},
    "\nOpen a file in the filesystem.\n\n"
    "This function opens a file in the filesystem. The function will return a file\n"
    "handle that can be used to read and write data to the file. The function will\n"
    "return an error if the file could not be opened.\n",
    &fs_open};

constexpr Method<1> kListdir{
    "listdir", {{{"path"}}},
    "\nList the contents of a directory in the filesystem.\n\n"
    "This function returns a tuple of two lists: first the names of the entries\n"
    "that are not directories, then the names of the directories. The function\n"
    "will return an error if the path does not name a directory.\n",
    &fs_listdir};

constexpr Method<2> kRemove{
    "remove", {{{"path"}, {"recurse", "False"}}}, "\nRemove a file from the filesystem.\n",
    &fs_remove};

constexpr Method<2> kTree{
    "tree", {{{"path"}, {"ident", "None"}}},
    "\nDebug the file system\n\n"
    "This function will return a debug representation of the filesystem as a string.\n",
    &fs_tree};

using PyFsClass = DeclaredClass<kPyFs, kMkdir, kTouch, kOpen, kListdir, kRemove, kTree>;

}  // namespace

PyResult<std::shared_ptr<fs::FileSystem>> filesystem_argument(PyObject* value, const char* name) {
  PyObject* object = SANDRIG_TRY(instance_argument(value, name, SANDRIG_TRY(class_type(ClassId::PyFs))));
  if (!Fs::constructed(object)) return raise_not_constructed(object, name);
  return Fs::value(object).fs;
}

template <>
PyResult<void> register_class_of<ClassId::PyFs>(PyObject* module) {
  SANDRIG_TRY(PyFsClass::register_in(module, Fs::kBasicSize,
                                     {{Py_tp_dealloc, as_slot(&Fs::destroy)},
                                      {Py_tp_str, as_slot(Edge<&fs_str>::call)}}));
  return {};
}

}  // namespace sandrig::py
