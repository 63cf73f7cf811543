#pragma once
// BootInfo (one sector) and UBootInfo (1740 bytes, written as four sectors):
// the records the board reads from the Boot partition. Both are byte arrays
// with named field offsets; see the .cpp for encoding.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "bootcfg/board_config.h"
#include "bootcfg/crc32.h"

namespace tarnwick {

inline constexpr size_t kBootInfoSize = 512;
inline constexpr size_t kUBootInfoSize = 1740;
inline constexpr size_t kUBootInfoSectorBytes = 2048;
inline constexpr size_t kDdrEntrySize = 344;
inline constexpr size_t kClkEntrySize = 76;
inline constexpr unsigned kMaxImageStore = 8;
inline constexpr char kBootInfoMagic[] = "KDFUUFDK";  // 8 characters, stored without terminator

// BootInfo field offsets used outside bootcfg (the full table lives in boot_info.cpp).
namespace bootinfo {
inline constexpr size_t kMagic = 0;
inline constexpr size_t kLoadPlainTextAddr = 8;
inline constexpr size_t kLoadCipherTextAddr = 12;
inline constexpr size_t kGoAddr = 16;
inline constexpr size_t kImageLen = 20;
inline constexpr size_t kImageCrc = 24;
inline constexpr size_t kImageStoreCoreAddr = 32;  // 8 x 4 bytes
inline constexpr size_t kImageStoreNum = 64;
inline constexpr size_t kInfoCrc = 508;
}  // namespace bootinfo

// UBootInfo field offsets.
namespace ubootinfo {
inline constexpr size_t kBootEnvStart = 0;
inline constexpr size_t kBootEnvSize = 4;
inline constexpr size_t kBootResStart = 8;
inline constexpr size_t kBootResSize = 24;
inline constexpr size_t kBootResFlag = 28;
inline constexpr size_t kBootImgStart = 32;
inline constexpr size_t kBootImgSize = 48;
inline constexpr size_t kBootImgFlag = 52;
inline constexpr size_t kDdrInfo = 56;    // 4 x 344 bytes
inline constexpr size_t kClkInfo = 1432;  // 4 x 76 bytes
inline constexpr size_t kUBootInfoCrc = 1736;
}  // namespace ubootinfo

using BootInfo = std::array<uint8_t, kBootInfoSize>;
using UBootInfo = std::array<uint8_t, kUBootInfoSize>;

// Builds BootInfo for an image: mode 1 takes the addresses of section
// "AddrInfo" (card), any other mode those of "DfuAddrInfo" (download).
// imageBytes must be readable for imageLength rounded up to 512, zero after
// the image's end. Never fails: a key the file lacks reads as 0.
void BuildBootInfo(BootInfo& record, const CCrc32& crc, const BoardConfig& config,
                   uint32_t imageLength, const uint8_t* imageBytes, int mode);

// Stores the four "DDRInfo%d" and four "CLKInfo%d" tables into record.
bool ReadDdrClkTables(UBootInfo& record, const BoardConfig& config);

// Fills the location header of UBootInfo for Boot partition start P and seals
// it with uBootInfoCrc; the DDR and clock tables must have been read first.
void FillUBootInfoHeader(UBootInfo& record, const CCrc32& crc, uint32_t bootPartitionStart,
                         uint32_t bootResLength, uint32_t bootImgLength);

// Field readers used by the burn, the inspector and the simulated board.
uint32_t ImageLen(const BootInfo& record);
uint32_t ImageStoreNum(const BootInfo& record);  // as stored (at most 8)
uint32_t ImageStoreCoreAddr(const BootInfo& record, unsigned i);

}  // namespace tarnwick
