#pragma once
// The one CRC of the card format: CRC-32 with the reflected polynomial,
// initial value 0xFFFFFFFF and no final inversion. The table is built when the
// object is constructed (at dialog start-up), not taken from constant data.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnwick {

class CCrc32 {
 public:
  CCrc32();
  [[nodiscard]] uint32_t Compute(const uint8_t* data, size_t length) const;
  [[nodiscard]] uint32_t Entry(size_t n) const { return m_table[n]; }

 private:
  std::array<uint32_t, 256> m_table{};
};

}  // namespace tarnwick
