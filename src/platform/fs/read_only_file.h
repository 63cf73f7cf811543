#pragma once
// A file opened for reading only, for the large binary inputs (the pack file
// and the images a pack is made of): its size and reads at 64-bit offsets.
// Paths are UTF-8.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

// Tests: a function asked before every read of any ReadOnlyFile with the read's
// offset and length; a failure it answers is that read's answer. An empty
// function (the default) lets every read through. Set it while no read runs.
using ReadFault = std::function<SysStatus(uint64_t offset, size_t length)>;
ReadFault SetReadFault(ReadFault fault);
// What the read fault answers for a read (Ok without one); the implementations ask it.
SysStatus ReadFaultAt(uint64_t offset, size_t length);

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
