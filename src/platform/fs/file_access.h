#pragma once
// Whole-file access for small text files (the INI files): read a file in one
// go, and replace a file's contents so that a crash or a full disk never
// leaves it half written.
#include <string>

namespace tarnwick {

enum class FileReadStatus {
  kOk,       // the file was read
  kMissing,  // no file of that name (a dangling symbolic link counts as missing)
  kFailed,   // the file exists but could not be read, or it is not a regular file
};

struct FileContents {
  FileReadStatus status = FileReadStatus::kMissing;
  std::string bytes;
  std::string problem;  // kFailed: what is wrong ("it is a folder", "Permission denied")
};

// Reads the whole regular file at path. Never blocks on a FIFO or a device.
[[nodiscard]] FileContents ReadWholeFile(const std::string& path);

// True when path itself is a symbolic link (dangling or not).
[[nodiscard]] bool IsSymbolicLink(const std::string& path);

// Makes the file at path hold exactly bytes; a file the caller may not write
// is left alone (false). A path that is a symbolic link is never written
// through (false): the program may run as root in a folder others can write,
// where a link could point it at any file. The
// new contents go to a temporary file in the target's folder, are flushed to
// the disk and renamed over the target; an existing target's owner, group and
// mode carry over; a new file gets the mode 0666 less the umask and, when the
// caller may give it away (root), the owner and group of its folder. Where
// that cannot be done (no temporary file can be created in the folder, the
// owner cannot be carried over, or the file has several hard links) but the
// file itself is writable, it is rewritten in place. False when the file
// could not be written; the old contents are then unchanged unless the
// in-place rewrite itself failed part way.
[[nodiscard]] bool ReplaceFileContents(const std::string& path, const std::string& bytes);

}  // namespace tarnwick
