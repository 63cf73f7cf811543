#include "platform/linux/disk_sys_calls.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tarnwick {

namespace {

class RealCalls final : public DiskSysCalls {
 public:
  int Open(const std::string& path, DiskOpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case DiskOpenMode::ReadOnly:
        flags |= O_RDONLY;
        break;
      case DiskOpenMode::ReadWrite:
        flags |= O_RDWR;
        break;
      case DiskOpenMode::ReadWriteExclusive:
        flags |= O_RDWR | O_EXCL;
        break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
  }

  int LockExclusive(int fd) override {
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
  }

  int64_t WriteAt(int fd, const void* data, size_t len, uint64_t offset) override {
    // Offsets the platform cannot represent are refused as pwrite itself would.
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -EOVERFLOW;
    const ssize_t n = ::pwrite(fd, data, len, static_cast<off_t>(offset));
    return n >= 0 ? n : -errno;
  }

  int Sync(int fd) override { return ::fsync(fd) == 0 ? 0 : errno; }

  void StartWriteback(int fd, uint64_t offset, uint64_t len) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        len > static_cast<uint64_t>(INT64_MAX) - offset)
      return;
    // Only starts the writes: nothing waits for them, and a write error is
    // left for the next fsync to report.
    ::sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(len),
                      SYNC_FILE_RANGE_WRITE);
  }

  int64_t ReadAt(int fd, void* data, size_t len, uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -EOVERFLOW;
    const ssize_t n = ::pread(fd, data, len, static_cast<off_t>(offset));
    return n >= 0 ? n : -errno;
  }

  int SetDirect(int fd, bool on) override {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return errno;
    const int wanted = on ? (flags | O_DIRECT) : (flags & ~O_DIRECT);
    if (wanted == flags) return 0;
    return ::fcntl(fd, F_SETFL, wanted) == 0 ? 0 : errno;
  }

  void DropCached(int fd, uint64_t offset, uint64_t len) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        len > static_cast<uint64_t>(INT64_MAX) - offset)
      return;
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(len), POSIX_FADV_DONTNEED);
  }

  int Close(int fd) override { return ::close(fd) == 0 ? 0 : errno; }

  int RereadPartitionTable(int fd) override { return ::ioctl(fd, BLKRRPART) == 0 ? 0 : errno; }

  int64_t DeviceBytes(int fd) override {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return -errno;
    return static_cast<int64_t>(bytes);
  }

  int64_t LogicalBlockBytes(int fd) override {
    int bytes = 0;
    if (::ioctl(fd, BLKSSZGET, &bytes) != 0) return -errno;
    return bytes;
  }

  int FileState(int fd, uint64_t& size, uint64_t& links) override {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    size = static_cast<uint64_t>(st.st_size);
    links = static_cast<uint64_t>(st.st_nlink);
    return 0;
  }

  int DescriptorDevice(int fd, uint32_t& devMajor, uint32_t& devMinor) override {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISBLK(st.st_mode)) return ENOTBLK;
    devMajor = major(st.st_rdev);
    devMinor = minor(st.st_rdev);
    return 0;
  }

  int Stat(const std::string& path, DiskFileInfo& info) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    info.isBlockDevice = S_ISBLK(st.st_mode);
    info.isRegularFile = S_ISREG(st.st_mode);
    info.devMajor = major(st.st_dev);
    info.devMinor = minor(st.st_dev);
    info.inode = static_cast<uint64_t>(st.st_ino);
    info.rdevMajor = major(st.st_rdev);
    info.rdevMinor = minor(st.st_rdev);
    info.size = static_cast<uint64_t>(st.st_size);
    return 0;
  }

  int Unmount(const std::string& mountPoint) override {
    return ::umount2(mountPoint.c_str(), 0) == 0 ? 0 : errno;
  }

  int Run(const std::vector<std::string>& argv, std::string* output) override {
    if (argv.empty()) return -1;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string text;
    if (spawnError == 0) {
      char buf[4096];
      ssize_t n;
      while ((n = ::read(pipeFds[0], buf, sizeof buf)) != 0) {
        if (n < 0) {
          if (errno == EINTR) continue;
          break;
        }
        text.append(buf, static_cast<size_t>(n));
      }
    }
    ::close(pipeFds[0]);
    if (output) *output = text;
    if (spawnError != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool IsRoot() override { return ::geteuid() == 0; }
};

}  // namespace

DiskSysCalls& RealDiskSysCalls() {
  static RealCalls calls;
  return calls;
}

}  // namespace tarnwick
