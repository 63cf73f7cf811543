#pragma once
// A file opened for reading only, for the large binary inputs (the pack file
// and the images a pack is made of): its size and reads at 64-bit offsets.
// Paths are UTF-8.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

class ReadOnlyFile {
 public:
  ReadOnlyFile();
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing regular file for reading. Fails when it is missing,
  // not a regular file, unreadable, or held exclusively by another program.
  [[nodiscard]] SysStatus Open(const std::string& path);
  bool IsOpen() const;

  // The file's size in bytes.
  [[nodiscard]] SysResult<uint64_t> Size();

  // Reads up to length bytes at offset into buf; answers how many were read
  // (fewer only at the end of the file).
  [[nodiscard]] SysResult<size_t> ReadAt(uint64_t offset, uint8_t* buf, size_t length);

  void Close();

 private:
  // The system's handle of the open file; defined by each implementation.
  struct Handle;
  std::unique_ptr<Handle> m_handle;
};

}  // namespace tarnwick
