#include "fs/file_data.h"

namespace sandrig::fs {

void FileData::write_debug(DebugWriter& out) const {
  out.begin_record("FileData").field("data").begin_sequence();
  for (std::uint8_t byte : data.view()) out.item().number(byte);
  out.end_sequence().end_record();
}

}  // namespace sandrig::fs
