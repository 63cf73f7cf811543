// The names of what a path leads to, the same on every system.
#include "platform/fs/file_access.h"

namespace tarnwick {

const char* PathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::RegularFile:
      return "a regular file";
    case PathKind::Missing:
      return "missing";
    case PathKind::Folder:
      return "a folder";
    case PathKind::Fifo:
      return "a FIFO";
    case PathKind::CharDevice:
      return "a character device";
    case PathKind::BlockDevice:
      return "a block device";
    case PathKind::Socket:
      return "a socket";
    case PathKind::Unreadable:
      break;
  }
  return "unreachable";
}

}  // namespace tarnwick
