#include "fs/error.h"

#include <array>

#include "common/debug_writer.h"

namespace sandrig::fs {
namespace {

struct Texts {
  std::string_view debug;
  std::string_view display;
};

constexpr std::array kTexts = std::to_array<Texts>({
    {"InodeNotFound", "Inode not found"},
    {"NotADirectory", "The specified INode is not a directory"},
    {"NotAFile", "The specified INode is not a file"},
    {"NotASymlink", "The specified INode is not a symlink"},
    {"MaxRecursionDepthExceeded", "Maximum filesystem depth exceeded"},
    {"ResourceAlreadyExists", "Resource already exists"},
    {"DirectoryIsNotEmpty", "Directory is not empty"},
    {"ResourceCurrentInUse", "Resource is currently in use"},
    {"UnrecognizedFileMode", "Unrecognized file mode"},
    {"OperationNotSupported", "File does not support the specified operation: "},
    {"InvalidFileDescriptor", "Invalid file descriptor"},
});
static_assert(kTexts.size() == static_cast<std::size_t>(IoErrorKind::InvalidFileDescriptor) + 1,
              "one pair of texts per IoErrorKind, in declaration order");

const Texts& texts(IoErrorKind kind) { return kTexts[static_cast<std::size_t>(kind)]; }

}  // namespace

std::string IoError::display() const {
  std::string text(texts(kind_).display);
  if (kind_ == IoErrorKind::OperationNotSupported) text += operation_;
  return text;
}

std::string IoError::debug() const {
  std::string text(texts(kind_).debug);
  if (kind_ == IoErrorKind::OperationNotSupported) {
    DebugWriter payload;
    payload.quoted(operation_);
    text += '(';
    text += payload.text();
    text += ')';
  }
  return text;
}

}  // namespace sandrig::fs
