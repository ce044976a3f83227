#include "fs/file_handle_type.h"

#include <cstdio>

namespace sandrig::fs {

IoResult<FileHandleType> FileHandleType::from_str(std::string_view text) {
  std::uint8_t bits = EMPTY;
  for (char c : text) {
    const std::uint8_t flag = c == 'r' ? READ : c == 'w' ? WRITE : EMPTY;
    if (flag == EMPTY || (bits & flag) != 0) return fail_with(IoErrorKind::UnrecognizedFileMode);
    bits |= flag;
  }
  return FileHandleType(bits);
}

std::string FileHandleType::debug() const {
  std::string text = "FileHandleType(";
  if (bits_ == EMPTY) {
    text += "0x0";
  } else {
    const bool read = contains(READ);
    const bool write = contains(WRITE);
    if (read) text += "READ";
    if (read && write) text += " | ";
    if (write) text += "WRITE";
    const std::uint8_t unknown = bits_ & ~(READ | WRITE);
    if (unknown != 0) {  // bits outside the named flags, as the hex remainder
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%x", unknown);
      if (read || write) text += " | ";
      text += hex;
    }
  }
  return text + ")";
}

}  // namespace sandrig::fs
