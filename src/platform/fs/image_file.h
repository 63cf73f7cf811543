#pragma once
// Card image files: regular files that stand for whole disks (the simulated
// disk service's slots). Paths are UTF-8.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

// An existing card image opened for reading and writing.
class ImageFile {
 public:
  ImageFile();
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Opens an existing regular file; fails for anything else.
  [[nodiscard]] SysStatus Open(const std::string& path);
  bool IsOpen() const;

  // Writes all length bytes at a 64-bit byte position: a short transfer is
  // continued; one that moves nothing fails as a full disk.
  [[nodiscard]] SysStatus WriteAt(uint64_t offset, const void* data, size_t length);
  // Makes everything written so far durable.
  [[nodiscard]] SysStatus Flush();
  // Reads all length bytes at a 64-bit byte position back from the file:
  // what was written is made durable first and the system is asked to forget
  // its cached copy of the range, so the bytes come from the file's blocks
  // where it can. Reading past the end fails.
  [[nodiscard]] SysStatus ReadBackAt(uint64_t offset, void* data, size_t length);
  // The open file's size now and how many names it has (0 once deleted).
  struct State {
    uint64_t size = 0;
    uint64_t links = 0;
  };
  [[nodiscard]] SysResult<State> CurrentState() const;
  void Close();

 private:
  struct Handle;  // the system's handle; defined by each implementation
  std::unique_ptr<Handle> m_handle;
};

struct FileInfo {
  bool regular = false;  // a regular file (not a folder, device or pipe)
  uint64_t size = 0;     // its size in bytes, when regular
};
// What is at path (symbolic links followed); fails when there is nothing.
[[nodiscard]] SysResult<FileInfo> StatFile(const std::string& path);

// Creates a new card image of bytes bytes as a sparse file (unwritten parts
// take no room). Fails, leaving nothing behind, when a file of that name
// already exists or the file cannot be made that large.
[[nodiscard]] SysStatus CreateSparseFile(const std::string& path, uint64_t bytes);

}  // namespace tarnwick
