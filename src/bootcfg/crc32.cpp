#include "bootcfg/crc32.h"

namespace tarnwick {
namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

uint32_t ReverseBits(uint32_t value, int bits) {
  uint32_t reversed = 0;
  for (int i = 0; i < bits; ++i) {
    reversed = (reversed << 1) | (value & 1);
    value >>= 1;
  }
  return reversed;
}

}  // namespace

// Each entry is computed the MSB-first way on the bit-reversed index and then
// reversed back, which yields the table of the reflected (LSB-first) CRC.
CCrc32::CCrc32() {
  for (uint32_t n = 0; n < m_table.size(); ++n) {
    uint32_t value = ReverseBits(n, 8) << 24;
    for (int step = 0; step < 8; ++step) {
      const bool carry = (value & 0x80000000u) != 0;
      value <<= 1;
      if (carry) value ^= kPolynomial;
    }
    m_table[n] = ReverseBits(value, 32);
  }
}

// Initial value 0xFFFFFFFF and no final inversion: the result is the
// complement of the common CRC-32.
uint32_t CCrc32::Compute(const uint8_t* data, size_t length) const {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ m_table[(crc ^ data[i]) & 0xFFu];
  return crc;
}

}  // namespace tarnwick
