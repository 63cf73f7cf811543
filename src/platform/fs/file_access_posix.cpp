// POSIX implementation of the whole-file access.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "platform/fs/file_access.h"

namespace tarnwick {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  // Closes now and reports whether the close succeeded (a late write error
  // of some file systems shows only here).
  [[nodiscard]] bool Close() {
    int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

const char* FileKindName(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Creates a new, empty temporary file next to target; fills *name.
int CreateTempFile(const std::string& target, std::string* name) {
  static std::atomic<unsigned> counter{0};
  std::string stem = DirName(target) + "/." + BaseName(target) + ".tmp-" +
                     std::to_string(static_cast<long>(::getpid())) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = stem + std::to_string(counter++);
    int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void SyncFolder(const std::string& folder) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) (void)::fsync(dir.Get());
}

SysStatus Errno(int err) {
  return SysStatus::FromCode(std::error_code(err, std::system_category()));
}

// Overwrites the existing file at target with bytes, keeping its inode.
SysStatus RewriteInPlace(const std::string& target, const std::string& bytes) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd.Valid()) return Errno(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Errno(errno);
  if (!S_ISREG(st.st_mode)) return Errno(EINVAL);
  if (!WriteAll(fd.Get(), bytes)) return Errno(errno);
  if (::ftruncate(fd.Get(), static_cast<off_t>(bytes.size())) != 0) return Errno(errno);
  if (::fsync(fd.Get()) != 0) return Errno(errno);
  if (!fd.Close()) return Errno(errno);
  return {};
}

enum class TempOutcome { Done, Failed, UseInPlace };

// The temporary-file-and-rename replacement. old is the target's status
// when it exists, else nullptr.
TempOutcome ReplaceViaTemp(const std::string& target, const struct stat* old,
                           const std::string& bytes) {
  std::string tempName;
  Fd fd(CreateTempFile(target, &tempName));
  if (!fd.Valid()) return old ? TempOutcome::UseInPlace : TempOutcome::Failed;
  auto discard = [&](TempOutcome outcome) {
    const int err = errno;  // the failure's, for the caller
    ::unlink(tempName.c_str());
    errno = err;
    return outcome;
  };
  if (old) {
    struct stat mine {};
    if (::fstat(fd.Get(), &mine) != 0) return discard(TempOutcome::Failed);
    if ((mine.st_uid != old->st_uid || mine.st_gid != old->st_gid) &&
        ::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
      // Renaming our file over it would hand the file to us: keep the inode.
      return discard(TempOutcome::UseInPlace);
    }
    // After fchown, which clears set-id bits.
    if (::fchmod(fd.Get(), old->st_mode & 07777) != 0) return discard(TempOutcome::UseInPlace);
  } else {
    // A new file belongs to the folder's owner where we may say so (running
    // as root in a user's folder), so the user can still change it later.
    struct stat folder {};
    struct stat mine {};
    if (::stat(DirName(target).c_str(), &folder) == 0 && ::fstat(fd.Get(), &mine) == 0 &&
        mine.st_uid != folder.st_uid && folder.st_uid != 0) {
      // Best effort: a file that keeps root's owner is still a good file.
      if (::fchown(fd.Get(), folder.st_uid, folder.st_gid) != 0) {
      }
    }
  }
  if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0 || !fd.Close()) {
    return discard(TempOutcome::Failed);
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) return discard(TempOutcome::Failed);
  SyncFolder(DirName(target));
  return TempOutcome::Done;
}

}  // namespace

SysResult<std::string> ReadWholeFile(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return Errno(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Errno(errno);
  if (!S_ISREG(st.st_mode)) {
    return SysStatus(std::error_code(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, std::system_category()),
                     std::string("it is ") + FileKindName(st.st_mode) + ", not a regular file");
  }
  std::string bytes;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Errno(errno);
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

PathKind KindOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Unreadable;
  }
  if (S_ISREG(st.st_mode)) return PathKind::RegularFile;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  if (S_ISFIFO(st.st_mode)) return PathKind::Fifo;
  if (S_ISCHR(st.st_mode)) return PathKind::CharDevice;
  if (S_ISBLK(st.st_mode)) return PathKind::BlockDevice;
  return PathKind::Socket;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsMissingFile(const SysStatus& status) {
  return status.Code() == std::error_code(ENOENT, std::system_category());
}

SysStatus ReplaceFileContents(const std::string& path, const std::string& bytes) {
  // The rename below replaces a link that appears meanwhile rather than its
  // target, and the in-place rewrite opens with O_NOFOLLOW.
  if (IsSymbolicLink(path)) {
    return {std::error_code(ELOOP, std::system_category()),
            "it is a symbolic link, which is never written through"};
  }
  const std::string& target = path;
  struct stat old {};
  bool exists = ::lstat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return Errno(errno);
  if (exists && !S_ISREG(old.st_mode)) return Errno(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
  // A read-only file stays as it is, although its folder would take a new one.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return Errno(errno);
  // A file with several names would lose the others on rename.
  if (exists && old.st_nlink > 1) return RewriteInPlace(target, bytes);
  switch (ReplaceViaTemp(target, exists ? &old : nullptr, bytes)) {
    case TempOutcome::Done:
      return {};
    case TempOutcome::UseInPlace:
      return RewriteInPlace(target, bytes);
    case TempOutcome::Failed:
      break;
  }
  return Errno(errno ? errno : EIO);
}

std::string WorkingDirectory() {
  std::error_code error;
  std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? std::string() : cwd.string();
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + '/' + name;
}

}  // namespace tarnwick

namespace tarnwick {

SysStatus AppendToFile(const std::string& path, const std::string& bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.Valid()) return Errno(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Errno(errno);
  if (!S_ISREG(st.st_mode)) {
    return {std::make_error_code(std::errc::invalid_argument),
            path + " is " + FileKindName(st.st_mode) + ", not a file"};
  }
  // One write: a line split over two writes could be torn by another writer.
  ssize_t n = 0;
  do {
    n = ::write(fd.Get(), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Errno(errno);
  if (static_cast<size_t>(n) != bytes.size()) return Errno(ENOSPC);
  if (!fd.Close()) return Errno(errno);
  return SysStatus::Ok();
}

}  // namespace tarnwick
