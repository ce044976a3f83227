#include "pybinding/py_file_handle.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <string>
#include <string_view>

#include "common/internal_failure.h"
#include "common/mutex.h"
#include "common/write_all.h"
#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/errors.h"
#include "pybinding/framework/gil_released.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/locked_call.h"
#include "pybinding/framework/panic.h"
#include "pybinding/framework/results.h"
#include "pybinding/whence.h"

namespace sandrig::py {
namespace {

using LockedHandle = Mutex<fs::FileHandle>;
using Handles = Native<LockedHandle>;

const std::string kPoisonMessage = std::string(kPoisonedLock) + ": PyFileHandle";

PyResult<LockedHandle*> handle_of(PyObject* self) {
  return self_value<LockedHandle>(self, ClassId::PyFileHandle);
}

// The line goes straight to descriptor 1, so it lands in order with every
// other write to standard output, whoever buffers those. A full pipe on
// fd 1 may be drained by another Python thread, which needs the
// interpreter lock to make room: the lock is given up around the write
// (and the wait for room on a non-blocking fd 1), one system call when
// fd 1 takes the line at once.
void announce_read(std::size_t count) {
  // Built on the stack: the line is shorter than PIPE_BUF, one write.
  constexpr std::string_view kHead = "Read ";
  constexpr std::string_view kTail = " bytes from file\n";
  std::array<char, kHead.size() + std::numeric_limits<std::size_t>::digits10 + 1 + kTail.size()> line;
  char* end = std::copy(kHead.begin(), kHead.end(), line.data());
  // The digits always fit; the bound keeps room for the tail regardless.
  end = std::to_chars(end, line.data() + line.size() - kTail.size(), count).ptr;
  end = std::copy(kTail.begin(), kTail.end(), end);
  const std::string_view text(line.data(), static_cast<std::size_t>(end - line.data()));
  // A closed stdout must not fail the read, so the result is ignored.
  without_gil([&] { write_all(STDOUT_FILENO, text, nullptr, wait_until_writable); });
}

// The bytes of a successful read of at most `limit` bytes, announced.
PyResult<OwnedRef> announced(std::span<const std::uint8_t> data, std::size_t limit) {
  if (data.size() > limit) fail("a read returned more bytes than asked for");
  announce_read(data.size());
  return bytes_result(data);
}

// Reads of up to this many bytes go through a buffer on the stack.
constexpr std::size_t kStackRead = 4096;

PyResult<OwnedRef> handle_str(PyObject* self) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  std::string text = locked_call(*handle, [](fs::FileHandle& h) { return h.debug(); });
  return text_result(text);
}

PyResult<OwnedRef> handle_id(PyObject* self) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  std::optional<fs::InodeId> id = locked_call(*handle, [](fs::FileHandle& h) { return h.id(); });
  if (!id) return raise_io_error(fs::IoErrorKind::InvalidFileDescriptor);
  return unsigned_result(*id);
}

PyResult<OwnedRef> handle_close(PyObject* self) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  fs::IoResult<void> closed = locked_call(*handle, [](fs::FileHandle& h) { return h.close(); });
  if (!closed) return raise_io_error(closed.error());
  return none_result();
}

PyResult<OwnedRef> handle_read(PyObject* self, const BoundArguments<1>& arguments) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  const std::size_t limit = SANDRIG_TRY(size_argument(arguments[0], "buffer"));
  if (limit > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
    return raise_internal_failure("capacity overflow");
  }
  if (limit <= kStackRead) {
    // Small reads, the common case, need no heap buffer on the way.
    std::array<std::uint8_t, kStackRead> buffer;
    const std::span<std::uint8_t> room(buffer.data(), limit);
    fs::IoResult<std::size_t> count =
        locked_call(*handle, [&](fs::FileHandle& h) { return h.read(room); });
    if (!count) return raise_io_error(count.error());
    return announced(room.first(*count), limit);
  }
  // Allocates only what the file still holds, however large the limit.
  fs::IoResult<std::vector<std::uint8_t>> data =
      locked_call(*handle, [&](fs::FileHandle& h) { return h.read_up_to(limit); });
  if (!data) return raise_io_error(data.error());
  return announced(*data, limit);
}

PyResult<OwnedRef> handle_write(PyObject* self, const BoundArguments<1>& arguments) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  std::span<const std::uint8_t> bytes = SANDRIG_TRY(bytes_argument(arguments[0], "buffer"));
  fs::IoResult<std::size_t> written =
      locked_call(*handle, [&](fs::FileHandle& h) { return h.write(bytes); });
  if (!written) return raise_io_error(written.error());
  return unsigned_result(*written);
}

PyResult<OwnedRef> handle_seek(PyObject* self, const BoundArguments<2>& arguments) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  const std::size_t offset = SANDRIG_TRY(size_argument(arguments[0], "offset"));
  const Whence whence = SANDRIG_TRY(whence_argument(arguments[1], "whence"));
  fs::IoResult<void> moved = locked_call(
      *handle, [&](fs::FileHandle& h) { return h.seek(to_seek_origin(whence), offset); });
  if (!moved) return raise_io_error(moved.error());
  return none_result();
}

PyResult<OwnedRef> handle_tell(PyObject* self) {
  LockedHandle* handle = SANDRIG_TRY(handle_of(self));
  std::optional<std::size_t> offset = locked_call(*handle, [](fs::FileHandle& h) {
    return h.id() ? std::optional(h.offset()) : std::nullopt;
  });
  if (!offset) return raise_io_error(fs::IoErrorKind::InvalidFileDescriptor);
  return unsigned_result(*offset);
}

// Before the handle is dropped: close it here rather than in its destructor,
// which would have to swallow a failure. A failed close (or a poisoned
// lock) is an internal failure, reported as unraisable by the caller.
void close_if_open(LockedHandle& locked) {
  auto handle = locked.lock();
  if (!handle->id()) return;
  fs::IoResult<void> closed = handle->close();
  if (!closed) fail("Failed to close the file handle: " + closed.error().display());
}

void handle_dealloc(PyObject* self) { Handles::destroy_with(self, &close_if_open); }

constexpr ClassDecl<0> kPyFileHandle{
    ClassId::PyFileHandle, "PyFileHandle",
    "\nA simple wrapper around the FileHandle struct.\n\n"
    "This class is a simple wrapper around the FileHandle struct. It defines\n"
    "the basis for a file handle that can be used in Python. The file handle\n"
    "can be used to read and write data to a file.\n\n"
    "A file handle is always associated with a filesystem and an inode. The\n"
    "file handle can be used to read and write data to the file.\n",
    {}, nullptr};

constexpr Method<0> kId{
    "id", {},
    "\nGet the inode id of the open file.\n\n"
    "This function returns the id of the file's inode as an integer. The function\n"
    "will return an error if the file handle has been closed.\n",
    &handle_id};

constexpr Method<0> kClose{
    "close", {},
    "\nClose the file handle.\n\n"
    "Notice that the pyobject still holds a reference to the file handle. However\n"
    "any subsequent read or write operation will fail.\n\n"
    "Small Note on garbage collection: The file handle will internally be closed\n"
    "HOWEVER it will still keep the file system and inode alive. Until the file\n"
    "handle is dropped.\n",
    &handle_close};

constexpr Method<1> kRead{
    "read", {{{"buffer"}}},
    "\nRead data from the file handle.\n\n"
    "This function reads data from the file handle. The function will return a\n"
    "byte array with the data that was read from the file. The function will\n"
    "return an error if the read operation failed.\n",
    &handle_read};

constexpr Method<1> kWrite{
    "write", {{{"buffer"}}},
    "\nWrite data to the file handle.\n\n"
    "This function writes data to the file handle. The function will return the\n"
    "number of bytes that were written to the file. The function will return an\n"
    "error if the write operation failed.\n",
    &handle_write};

constexpr Method<2> kSeek{
    "seek", {{{"offset"}, {"whence"}}},
    "\nMove the current position in the file.\n\n"
    "This function moves the position by offset bytes from the origin that whence\n"
    "names and returns None; read the new position with tell(). The position never\n"
    "passes the end of the file. The function will return an error if the seek\n"
    "operation failed.\n",
    &handle_seek};

constexpr Method<0> kTell{
    "tell", {},
    "\nTell the current position in the file.\n\n"
    "This function returns the current position in the file. The function will\n"
    "return an error if the tell operation failed.\n",
    &handle_tell};

using PyFileHandleClass =
    DeclaredClass<kPyFileHandle, kId, kClose, kRead, kWrite, kSeek, kTell>;

}  // namespace

PyResult<OwnedRef> new_py_file_handle(fs::FileHandle handle) {
  return Handles::create(SANDRIG_TRY(class_type(ClassId::PyFileHandle)), kPoisonMessage,
                         std::move(handle));
}

template <>
PyResult<void> register_class_of<ClassId::PyFileHandle>(PyObject* module) {
  SANDRIG_TRY(PyFileHandleClass::register_in(module, Handles::kBasicSize,
                                             {{Py_tp_dealloc, as_slot(&handle_dealloc)},
                                              {Py_tp_str, as_slot(Edge<&handle_str>::call)}}));
  return {};
}

}  // namespace sandrig::py
