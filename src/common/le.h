#pragma once
// Little-endian field access for on-disk records. Records are byte arrays;
// these helpers never depend on host byte order or struct packing.
#include <cstddef>
#include <cstdint>

namespace tarnwick {

inline uint8_t GetU8(const uint8_t* p, size_t off) {
  return p[off];
}
inline uint16_t GetU16(const uint8_t* p, size_t off) {
  return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
inline uint32_t GetU32(const uint8_t* p, size_t off) {
  return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
         (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p, size_t off) {
  return static_cast<uint64_t>(GetU32(p, off)) | (static_cast<uint64_t>(GetU32(p, off + 4)) << 32);
}

// The Put helpers keep the low bits that fit the field, as the card format requires.
inline void PutU8(uint8_t* p, size_t off, uint32_t v) {
  p[off] = static_cast<uint8_t>(v);
}
inline void PutU16(uint8_t* p, size_t off, uint32_t v) {
  p[off] = static_cast<uint8_t>(v);
  p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, size_t off, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Stores a field of the given width (1, 2 or 4 bytes), keeping the low bits.
inline void PutField(uint8_t* p, size_t off, unsigned width, uint32_t v) {
  switch (width) {
    case 1:
      PutU8(p, off, v);
      break;
    case 2:
      PutU16(p, off, v);
      break;
    default:
      PutU32(p, off, v);
      break;
  }
}

}  // namespace tarnwick
