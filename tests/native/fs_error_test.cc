#include <gtest/gtest.h>

#include "fs/error.h"
#include "fs/file_handle_type.h"

namespace sandrig::fs {
namespace {

struct ErrorText {
  IoError error;
  const char* display;
  const char* debug;
};

TEST(FsError, DisplayAndDebugTexts) {
  const ErrorText cases[] = {
      {IoErrorKind::InodeNotFound, "Inode not found", "InodeNotFound"},
      {IoErrorKind::NotADirectory, "The specified INode is not a directory", "NotADirectory"},
      {IoErrorKind::NotAFile, "The specified INode is not a file", "NotAFile"},
      {IoErrorKind::NotASymlink, "The specified INode is not a symlink", "NotASymlink"},
      {IoErrorKind::MaxRecursionDepthExceeded, "Maximum filesystem depth exceeded",
       "MaxRecursionDepthExceeded"},
      {IoErrorKind::ResourceAlreadyExists, "Resource already exists", "ResourceAlreadyExists"},
      {IoErrorKind::DirectoryIsNotEmpty, "Directory is not empty", "DirectoryIsNotEmpty"},
      {IoErrorKind::ResourceCurrentInUse, "Resource is currently in use", "ResourceCurrentInUse"},
      {IoErrorKind::UnrecognizedFileMode, "Unrecognized file mode", "UnrecognizedFileMode"},
      {IoError::operation_not_supported("read"),
       "File does not support the specified operation: read", "OperationNotSupported(\"read\")"},
      {IoError::operation_not_supported("write"),
       "File does not support the specified operation: write", "OperationNotSupported(\"write\")"},
      {IoErrorKind::InvalidFileDescriptor, "Invalid file descriptor", "InvalidFileDescriptor"},
  };
  for (const ErrorText& c : cases) {
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
}

TEST(FsFileHandleType, ParsesExactlyTheFiveModes) {
  const std::pair<const char*, std::uint8_t> accepted[] = {
      {"", 0}, {"r", 1}, {"w", 2}, {"rw", 3}, {"wr", 3}};
  for (const auto& [text, bits] : accepted) {
    auto mode = FileHandleType::from_str(text);
    ASSERT_TRUE(mode.has_value()) << text;
    EXPECT_EQ(mode->bits(), bits) << text;
  }
  for (const char* text : {"rr", "ww", "rwr", "a", "r+", "R", "W", " r", "rb", "x"}) {
    EXPECT_EQ(FileHandleType::from_str(text).error(), IoErrorKind::UnrecognizedFileMode) << text;
  }
}

TEST(FsFileHandleType, DebugText) {
  EXPECT_EQ(FileHandleType(0).debug(), "FileHandleType(0x0)");
  EXPECT_EQ(FileHandleType(1).debug(), "FileHandleType(READ)");
  EXPECT_EQ(FileHandleType(2).debug(), "FileHandleType(WRITE)");
  EXPECT_EQ(FileHandleType(3).debug(), "FileHandleType(READ | WRITE)");
}

}  // namespace
}  // namespace sandrig::fs
