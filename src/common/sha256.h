#pragma once
// SHA-256, for the reports that name the pack and configuration files a card
// was burned from.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

class CSha256 {
 public:
  CSha256();
  void Update(const void* data, size_t length);
  // The digest as 64 lower-case hexadecimal digits. The object is spent.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> m_state;
  std::array<uint8_t, 64> m_buffer{};
  size_t m_buffered = 0;
  uint64_t m_length = 0;  // bytes hashed so far
};

// The digest of a file's contents, read in pieces (a pack may be gigabytes).
SysResult<std::string> Sha256OfFile(const std::string& path);

}  // namespace tarnwick
