// POSIX implementation of the whole-file access.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
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
  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
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
  if (dir.valid()) (void)::fsync(dir.get());
}

// Overwrites the existing file at target with bytes, keeping its inode.
bool RewriteInPlace(const std::string& target, const std::string& bytes) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd.valid()) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (!WriteAll(fd.get(), bytes)) return false;
  if (::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0) return false;
  if (::fsync(fd.get()) != 0) return false;
  return fd.Close();
}

enum class TempOutcome { kDone, kFailed, kUseInPlace };

// The temporary-file-and-rename replacement. old is the target's status
// when it exists, else nullptr.
TempOutcome ReplaceViaTemp(const std::string& target, const struct stat* old,
                           const std::string& bytes) {
  std::string tempName;
  Fd fd(CreateTempFile(target, &tempName));
  if (!fd.valid()) return old ? TempOutcome::kUseInPlace : TempOutcome::kFailed;
  auto discard = [&](TempOutcome outcome) {
    ::unlink(tempName.c_str());
    return outcome;
  };
  if (old) {
    struct stat mine {};
    if (::fstat(fd.get(), &mine) != 0) return discard(TempOutcome::kFailed);
    if ((mine.st_uid != old->st_uid || mine.st_gid != old->st_gid) &&
        ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
      // Renaming our file over it would hand the file to us: keep the inode.
      return discard(TempOutcome::kUseInPlace);
    }
    // After fchown, which clears set-id bits.
    if (::fchmod(fd.get(), old->st_mode & 07777) != 0) return discard(TempOutcome::kUseInPlace);
  } else {
    // A new file belongs to the folder's owner where we may say so (running
    // as root in a user's folder), so the user can still change it later.
    struct stat folder {};
    struct stat mine {};
    if (::stat(DirName(target).c_str(), &folder) == 0 && ::fstat(fd.get(), &mine) == 0 &&
        mine.st_uid != folder.st_uid && folder.st_uid != 0) {
      (void)::fchown(fd.get(), folder.st_uid, folder.st_gid);
    }
  }
  if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    return discard(TempOutcome::kFailed);
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) return discard(TempOutcome::kFailed);
  SyncFolder(DirName(target));
  return TempOutcome::kDone;
}

}  // namespace

FileContents ReadWholeFile(const std::string& path) {
  FileContents result;
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    result.status = (errno == ENOENT) ? FileReadStatus::kMissing : FileReadStatus::kFailed;
    result.problem = std::strerror(errno);
    return result;
  }
  result.status = FileReadStatus::kFailed;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    result.problem = std::strerror(errno);
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.problem = std::string("it is ") + FileKindName(st.st_mode) + ", not a regular file";
    return result;
  }
  std::string bytes;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.problem = std::strerror(errno);
      return result;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  result.status = FileReadStatus::kOk;
  result.bytes = std::move(bytes);
  return result;
}

PathKind KindOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::kMissing : PathKind::kUnreadable;
  }
  if (S_ISREG(st.st_mode)) return PathKind::kRegularFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISFIFO(st.st_mode)) return PathKind::kFifo;
  if (S_ISCHR(st.st_mode)) return PathKind::kCharDevice;
  if (S_ISBLK(st.st_mode)) return PathKind::kBlockDevice;
  return PathKind::kSocket;
}

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

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  // The rename below replaces a link that appears meanwhile rather than its
  // target, and the in-place rewrite opens with O_NOFOLLOW.
  if (IsSymbolicLink(path)) return false;
  const std::string& target = path;
  struct stat old {};
  bool exists = ::lstat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(old.st_mode)) return false;
  // A read-only file stays as it is, although its folder would take a new one.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  // A file with several names would lose the others on rename.
  if (exists && old.st_nlink > 1) return RewriteInPlace(target, bytes);
  switch (ReplaceViaTemp(target, exists ? &old : nullptr, bytes)) {
    case TempOutcome::kDone:
      return true;
    case TempOutcome::kUseInPlace:
      return RewriteInPlace(target, bytes);
    case TempOutcome::kFailed:
      break;
  }
  return false;
}

}  // namespace tarnwick
