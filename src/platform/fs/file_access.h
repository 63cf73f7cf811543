#pragma once
// Whole-file access for small text files (the INI files): read a file in one
// go, and replace a file's contents so that a crash or a full disk never
// leaves it half written.
#include <cstdint>
#include <optional>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

// The separator this system puts between a folder and a name, and the line
// ending of the text files it creates.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr char kNativeLineEnding[] = "\r\n";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr char kNativeLineEnding[] = "\n";
#endif

// The process's working directory (UTF-8); an empty text when it cannot be
// fetched (it was removed).
[[nodiscard]] std::string WorkingDirectory();

// The path of the file name in folder: the separator is added unless folder
// ends in one already; name alone when folder is empty.
[[nodiscard]] std::string PathInFolder(const std::string& folder, const std::string& name);

// The whole contents of the regular file at path (UTF-8). Never blocks on a
// FIFO or a device. A missing file (a dangling symbolic link counts as
// missing) fails with an error for which IsMissingFile is true; a file that
// exists but cannot be read, or is not a regular file, fails otherwise.
[[nodiscard]] SysResult<std::string> ReadWholeFile(const std::string& path);

// True when status says that there is no file of that name.
[[nodiscard]] bool IsMissingFile(const SysStatus& status);

// What a path leads to (symbolic links followed), for inputs that must be
// regular files: a refusal can then say what the path is instead.
enum class PathKind {
  RegularFile,
  Missing,
  Folder,
  Fifo,
  CharDevice,
  BlockDevice,
  Socket,
  Unreadable,  // the system cannot tell (a folder on the way that may not be searched, ...)
};
[[nodiscard]] PathKind KindOfPath(const std::string& path);
// "a regular file", "a folder", "a FIFO", ... ("missing", "unreachable" for the others).
const char* PathKindName(PathKind kind);

// The identity of the file a path leads to (symbolic links followed): a
// second name of a file, a link to it or a hard link, has the same identity.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// Nothing when the path leads to no file.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::string& path);

// True when path itself is a symbolic link (dangling or not).
[[nodiscard]] bool IsSymbolicLink(const std::string& path);

// Makes the file at path hold exactly bytes; a file the caller may not write
// is left alone (an error). A path that is a symbolic link is never written
// through (an error): the program may run as root in a folder others can
// write, where a link could point it at any file. The
// new contents go to a temporary file in the target's folder, are flushed to
// the disk and renamed over the target; an existing target's owner, group and
// mode carry over; a new file gets the mode 0666 less the umask and, when the
// caller may give it away (root), the owner and group of its folder. Where
// that cannot be done (no temporary file can be created in the folder, the
// owner cannot be carried over, or the file has several hard links) but the
// file itself is writable, it is rewritten in place. An error when the file
// could not be written; the old contents are then unchanged unless the
// in-place rewrite itself failed part way. On Windows a file that is a link
// is rewritten in place, owners and modes are the folder's to give, and the
// replacement is MoveFileEx's.
[[nodiscard]] SysStatus ReplaceFileContents(const std::string& path, const std::string& bytes);

// Appends bytes to the file at path (made when missing, with the mode 0666
// less the umask) in one write in append mode, so that the lines several
// programs append at once never mix. A write that takes fewer than all the
// bytes fails (a full disk: no_space_on_device).
[[nodiscard]] SysStatus AppendToFile(const std::string& path, const std::string& bytes);

}  // namespace tarnwick
