// The names of what a path leads to, the same on every system.
#include "platform/fs/file_access.h"

namespace tarnwick {

const char* PathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::kRegularFile:
      return "a regular file";
    case PathKind::kMissing:
      return "missing";
    case PathKind::kFolder:
      return "a folder";
    case PathKind::kFifo:
      return "a FIFO";
    case PathKind::kCharDevice:
      return "a character device";
    case PathKind::kBlockDevice:
      return "a block device";
    case PathKind::kSocket:
      return "a socket";
    case PathKind::kUnreadable:
      break;
  }
  return "unreachable";
}

}  // namespace tarnwick
