#include "card_model.h"

#include <algorithm>
#include <cstring>

#include "layout/card_layout.h"

namespace tarnwick::testing {
namespace {

constexpr uint64_t kSector = 512;

void Put32(Bytes& b, size_t off, uint64_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(Bytes& b, size_t off, uint64_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}

uint64_t R8(uint64_t x) {
  return (x + 7) / 8 * 8;
}
uint64_t N(size_t len) {
  return len / kSector + 1;
}
uint64_t Rounded(size_t len) {
  return (len + kSector - 1) / kSector * kSector;
}

// The card format's CRC (reflected polynomial, initial value all ones, no final inversion).
uint32_t CardCrc(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

// A card being written: every write lands in order, later writes win.
struct CardWriter {
  Bytes& card;
  void Write(uint64_t sector, uint64_t count, const Bytes& data) {
    Bytes padded(count * kSector, 0);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), padded.size()), padded.begin());
    std::copy(padded.begin(), padded.end(), card.begin() + sector * kSector);
  }
  void Zero(uint64_t sector, uint64_t count) { Write(sector, count, {}); }
};

Bytes Entries(const std::array<std::array<uint64_t, 3>, 2>& e) {
  Bytes s(kSector, 0);
  for (int i = 0; i < 2; ++i) {
    s[446 + 16 * i + 4] = static_cast<uint8_t>(e[i][0]);
    Put32(s, 446 + 16 * i + 8, e[i][1]);
    Put32(s, 446 + 16 * i + 12, e[i][2]);
  }
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

Bytes BootInfoFor(const BoardSetup& setup, const Images& images) {
  Bytes b(kSector, 0);
  std::memcpy(b.data(), "KDFUUFDK", 8);
  Put32(b, 8, 0x40008000);
  Put32(b, 12, 0x40800000);
  Put32(b, 16, 0x40008040);
  uint64_t r = Rounded(images.uboot.size());
  Bytes padded = images.uboot;
  padded.resize(r, 0);
  Put32(b, 20, r);
  Put32(b, 24, CardCrc(padded.data(), padded.size()));
  b[28] = 1;  // imageEncrypt=257 keeps its low byte
  for (uint32_t i = 0; i < setup.imageStoreNum; ++i)
    Put32(b, 32 + 4 * i, i * r / kSector + kFirstCopySector);
  b[64] = static_cast<uint8_t>(setup.imageStoreNum);
  Put32(b, 68, 0x8000000);
  Put32(b, 72 + 4 * 38, 0x1234);
  Put16(b, 404, 70000);
  Put16(b, 420, 3);
  Put32(b, 496, 0x55);
  Put16(b, 502, 200);
  Put16(b, 504, 1);
  Put32(b, 508, CardCrc(b.data(), 508));
  return b;
}

Bytes UBootInfoFor(uint64_t p, const Images& images) {
  Bytes u(2048, 0);
  Put32(u, 0, p + kBootEnvOffset);
  Put32(u, 4, kBootEnvBytes);
  Put32(u, 8, p + kBootResOffset);
  Put32(u, 24, images.bootres.size());
  Put32(u, 28, 1);
  Put32(u, 32, p + kBootResOffset + images.bootres.size() / kSector + kBootResToBootImgGap);
  Put32(u, 48, images.bootimg.size());
  Put32(u, 52, 1);
  Put32(u, 56 + 344 * 2 + 12, 0x10000000);  // DDRInfo2 ddramSize
  Put32(u, 1432 + 76 + 8, 0x2321);          // CLKInfo1 cpuPllCfg
  Put32(u, 1736, CardCrc(u.data(), 1736));
  return u;
}

Bytes Fat32BootSector(const Bytes& actual, uint64_t at, uint64_t total) {
  Bytes b(actual.begin() + at * kSector, actual.begin() + (at + 1) * kSector);
  std::fill(b.begin(), b.begin() + 90, 0);
  const uint8_t jump[] = {0xEB, 0x58, 0x90};
  std::memcpy(b.data(), jump, 3);
  std::memcpy(b.data() + 3, "MSDOS5.0", 8);
  Put16(b, 11, 512);
  b[13] = 8;
  Put16(b, 14, 34);
  b[16] = 2;
  b[21] = 0xF8;
  Put16(b, 24, 63);
  Put16(b, 26, 255);
  Put32(b, 28, 63);
  Put32(b, 32, total);
  Put32(b, 36, Fat32FatSectors(total));
  Put32(b, 44, 2);
  Put16(b, 48, 1);
  Put16(b, 50, 6);
  b[66] = 0x29;
  const uint8_t serial[] = {0x14, 0x09, 0xB1, 0xF4};
  std::memcpy(b.data() + 67, serial, 4);
  std::memcpy(b.data() + 71, "NO NAME    ", 11);
  std::memcpy(b.data() + 82, "FAT32   ", 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

}  // namespace

std::string ConfigText(const BoardSetup& s) {
  return "[AddrInfo]\nloadPlainTextAddr=0x40008000\nloadCipherTextAddr=0x40800000\n"
         "goAddr=0x40008040\n[DfuAddrInfo]\nloadPlainTextAddr=0x10000\n"
         "[ImageInfo]\nimageEncrypt=257\n[imageStoreInfor]\nimageStoreNum=" +
         std::to_string(s.imageStoreNum) +
         "\n[DDRCinfor]\nddramSize=0x8000000\nddrcRegAddr[38]=0x1234\nddrcRegVal[39]=0x9999\n"
         "[NandflashInfor]\nnandPageSize=70000\n[SDIOInfor]\nsdInternalDiv=3\n"
         "[CLKRSTInfor]\nclkConfDelay=0x55\n[EFUSEInfor]\nefcPgmWidth=200\n[USBInfor]\n"
         "VenderCmdMode=1\n[DDRInfo2]\nddramSize=0x10000000\n[CLKInfo1]\ncpuPllCfg=0x2321\n"
         "[DDRInfo4]\ncpuClk=5\n[PARTITION_SECTORS]\nPartition_Boot=" +
         std::to_string(s.boot) + "\nPartition_Recovery=" + std::to_string(s.recovery) +
         "\nPartition_System=" + std::to_string(s.system) +
         "\nPartition_Data=" + std::to_string(s.data) +
         "\nPartition_Cache=" + std::to_string(s.cache) + "\nLABEL=" + s.label + "\n";
}

Plan PlanFor(uint64_t cardBytes, const BoardSetup& s) {
  Plan p;
  p.cardSectors = cardBytes / (255 * 63 * kSector) * (255 * 63);
  p.slot = {R8(s.system), R8(s.data), R8(s.cache)};
  uint64_t e = p.slot[0] + p.slot[1] + p.slot[2] + 189;
  uint64_t f = p.cardSectors - R8(s.boot) - R8(s.recovery) - R8(e);
  if (f % 8 != 0) f = (f / 8 - 1) * 8;
  f -= 126;
  p.start = {63, f + 63, f + 63 + R8(e) + 63, f + 63 + R8(e) + 63 + R8(s.recovery)};
  p.total = {f, e, s.recovery, s.boot};
  for (int i = 0; i < 3; ++i) p.logical[i] = p.slot[i] - 63;
  return p;
}

Bytes ExpectedCard(const Bytes& actual, uint8_t pattern, const BoardSetup& setup,
                   const Images& images) {
  Bytes card(actual.size(), pattern);
  CardWriter w{card};
  Plan p = PlanFor(actual.size(), setup);
  uint64_t x = p.X(), l1 = p.slot[0], l2 = p.slot[0] + p.slot[1];

  Bytes mbr(actual.begin(), actual.begin() + kSector);  // boot code 0-439 is free
  std::fill(mbr.begin() + 440, mbr.end(), 0);
  const uint8_t signature[] = {0xCA, 0x96, 0xCA, 0x96};
  std::memcpy(mbr.data() + 440, signature, 4);
  const uint8_t types[] = {0x0B, 0x05, 0xBB, 0xBB};
  for (int i = 0; i < 4; ++i) {
    mbr[446 + 16 * i + 4] = types[i];
    Put32(mbr, 446 + 16 * i + 8, p.start[i]);
    Put32(mbr, 446 + 16 * i + 12, p.total[i]);
  }
  const uint8_t chs[] = {0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF};
  std::memcpy(mbr.data() + 447, chs, 7);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  w.Write(0, 1, mbr);

  Bytes bootInfo = BootInfoFor(setup, images);
  for (int j = 0; j < 4; ++j) w.Write(p.P() + j, 1, bootInfo);
  uint64_t r = Rounded(images.uboot.size());
  for (uint32_t i = 0; i < setup.imageStoreNum; ++i) {
    w.Write(p.P() + i * r / kSector + kFirstCopySector, r / kSector, images.uboot);
  }
  w.Write(p.P() + 4, 4, UBootInfoFor(p.P(), images));
  uint64_t res = p.P() + kBootResOffset;
  auto image = [&](uint64_t at, const Bytes& data) { w.Write(at, N(data.size()), data); };
  image(res + images.bootres.size() / kSector + 4, images.bootimg);
  image(res, images.bootres);
  image(p.R(), images.bootrecover);
  image(x + 63, images.system);
  image(x + l2 + 63, images.cache);
  image(x + l1 + 63, images.data);
  w.Write(x, 1, Entries({{{0x83, 63, p.logical[0]}, {0x05, p.slot[0], p.slot[1]}}}));
  w.Write(x + l1, 1, Entries({{{0x83, 63, p.logical[1]}, {0x05, l2, p.slot[2]}}}));
  w.Write(x + l2, 1, Entries({{{0x83, 63, p.logical[2]}, {0, 0, 0}}}));
  w.Zero(p.P() + 8, 8);
  w.Zero(p.P() + kBootEnvOffset, kBootEnvSectors);

  uint64_t s = 63, total = p.total[0], fatSz = Fat32FatSectors(total);
  Bytes dbr = Fat32BootSector(actual, s, total);
  Bytes fsInfo(kSector, 0);
  std::memcpy(fsInfo.data(), "RRaA", 4);
  Bytes fat(kSector, 0);
  const uint8_t fatStart[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                              0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  std::memcpy(fat.data(), fatStart, sizeof fatStart);
  Bytes dir(kSector, 0);
  std::string label = setup.label.substr(0, 11);
  label.resize(11, ' ');
  std::memcpy(dir.data(), label.data(), 11);
  dir[11] = 0x08;
  Put16(dir, 22, 0x5A41);
  Put16(dir, 24, 0x3E95);
  w.Write(s, 1, dbr);
  w.Write(s + 1, 1, fsInfo);
  w.Zero(s + 2, 1);
  w.Write(s + 6, 1, dbr);
  w.Write(s + 7, 1, fsInfo);
  w.Zero(s + 8, 1);
  w.Zero(s + 35, 2 * fatSz);
  w.Write(s + 34, 1, fat);
  w.Write(s + 34 + fatSz, 1, fat);
  w.Write(s + 34 + 2 * fatSz, 1, dir);
  w.Zero(s + 35 + 2 * fatSz, 8);
  return card;
}

int64_t FirstDifferentSector(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return 0;
  auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin());
  return ia == a.end() ? -1 : (ia - a.begin()) / static_cast<int64_t>(kSector);
}

}  // namespace tarnwick::testing
