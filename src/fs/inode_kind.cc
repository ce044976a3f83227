#include "fs/inode_kind.h"

namespace sandrig::fs {

void INodeKind::write_debug(DebugWriter& out) const {
  if (const File* file = as_file()) {
    out.begin_record("File").field("data");
    file->data.write_debug(out);
    out.field("lock");
    file->lock.write_debug(out);
    out.end_record();
  } else if (const Directory* directory = as_directory()) {
    directory->write_debug(out);
  } else {
    out.begin_record("Symlink").field("target").number(as_symlink()->target).end_record();
  }
}

}  // namespace sandrig::fs
