#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace sandrig::fs {

// The kinds of failure of the virtual filesystem, in declaration order.
enum class IoErrorKind : std::uint8_t {
  InodeNotFound,
  NotADirectory,
  NotAFile,
  NotASymlink,
  MaxRecursionDepthExceeded,
  ResourceAlreadyExists,
  DirectoryIsNotEmpty,
  ResourceCurrentInUse,
  UnrecognizedFileMode,
  OperationNotSupported,
  InvalidFileDescriptor,
};

// One filesystem error: a kind and, for OperationNotSupported, the name of
// the refused operation (static text, "read" or "write").
class IoError {
 public:
  constexpr IoError(IoErrorKind kind) : kind_(kind) {}  // NOLINT: implicit by design

  // OperationNotSupported naming the refused operation (static text).
  static constexpr IoError operation_not_supported(std::string_view operation) {
    IoError error(IoErrorKind::OperationNotSupported);
    error.operation_ = operation;
    return error;
  }

  constexpr IoErrorKind kind() const { return kind_; }
  // The refused operation of OperationNotSupported; empty otherwise.
  constexpr std::string_view operation() const { return operation_; }

  // The fixed sentence shown to users ("Inode not found", ...).
  std::string display() const;
  // The variant name, with the quoted payload for OperationNotSupported.
  std::string debug() const;

  friend constexpr bool operator==(const IoError&, const IoError&) = default;

 private:
  IoErrorKind kind_;
  std::string_view operation_;
};

// The result of a filesystem operation: its value or an IoError.
template <typename T>
using IoResult = std::expected<T, IoError>;

// Shorthand for returning an IoError from an IoResult function.
inline std::unexpected<IoError> fail_with(IoError error) { return std::unexpected(error); }

}  // namespace sandrig::fs
