#pragma once
// Read-only access to a card: a card image file or a whole block device.
// The inspector reads a burned card through it; it never writes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/host.h"

namespace tarnwick {

class CCardReader final : public ICardReader {
 public:
  // Opens path read-only.
  static SysResult<std::unique_ptr<CCardReader>> Open(const std::string& path);
  ~CCardReader() override;
  CCardReader(const CCardReader&) = delete;
  CCardReader& operator=(const CCardReader&) = delete;

  // Capacity in bytes: the file's size, or the block device's size.
  uint64_t SizeBytes() const override { return m_size; }
  // Reads exactly len bytes at byteOffset; fails on a read error or when the
  // range reaches past the end.
  SysStatus ReadAt(uint64_t byteOffset, void* buffer, size_t len) override;

 private:
  CCardReader(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
  int m_fd;
  uint64_t m_size;
};

}  // namespace tarnwick
