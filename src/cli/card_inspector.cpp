#include "cli/card_inspector.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "bootcfg/board_config.h"
#include "bootcfg/boot_info.h"
#include "bootcfg/crc32.h"
#include "common/le.h"
#include "common/printf_format.h"
#include "common/sector.h"
#include "layout/card_layout.h"

namespace tarnwick::cli {
namespace {

// Card geometry as discovery forms it: 255 heads, 63 sectors per track.
constexpr uint64_t kSectorsPerCylinder = 255 * 63;

// FAT32 boot-sector fields.
constexpr size_t kBpbBytesPerSector = 11;
constexpr size_t kBpbSectorsPerCluster = 13;
constexpr size_t kBpbReserved = 14;
constexpr size_t kBpbFatCount = 16;
constexpr size_t kBpbRootEntries = 17;
constexpr size_t kBpbTotal16 = 19;
constexpr size_t kBpbMedia = 21;
constexpr size_t kBpbFatSize16 = 22;
constexpr size_t kBpbHidden = 28;
constexpr size_t kBpbTotal32 = 32;
constexpr size_t kBpbFatSize32 = 36;
constexpr size_t kBpbRootCluster = 44;
constexpr size_t kBpbFsInfo = 48;
constexpr size_t kBpbBackup = 50;
constexpr size_t kBpbExtSignature = 66;
constexpr size_t kBpbFsType = 82;
constexpr uint32_t kFatReserved = 34;
constexpr uint32_t kSectorsPerCluster = 8;

constexpr uint8_t kFatFirstSector[12] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                                         0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};

std::string Format(const char* format, ...) TW_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

uint64_t RoundUp8(uint64_t x) {
  return (x + 7) & ~uint64_t{7};
}

bool AllZero(const uint8_t* p, size_t len) {
  return std::all_of(p, p + len, [](uint8_t b) { return b == 0; });
}

struct Entry {
  uint8_t status = 0;
  uint8_t chsFirst[3]{};
  uint8_t type = 0;
  uint8_t chsLast[3]{};
  uint32_t first = 0;
  uint32_t count = 0;
};

Entry ReadEntry(const std::vector<uint8_t>& sector, int i) {
  const uint8_t* p = sector.data() + 446 + 16 * i;
  Entry e;
  e.status = p[0];
  std::memcpy(e.chsFirst, p + 1, 3);
  e.type = p[4];
  std::memcpy(e.chsLast, p + 5, 3);
  e.first = GetU32(p, 8);
  e.count = GetU32(p, 12);
  return e;
}

bool ChsIs(const uint8_t (&chs)[3], uint8_t a, uint8_t b, uint8_t c) {
  return chs[0] == a && chs[1] == b && chs[2] == c;
}

class Inspector {
 public:
  Inspector(ICardSource& card, const std::optional<ExpectedLayout>& expected)
      : m_card(card), m_expected(expected) {}

  InspectResult Run() {
    uint64_t bytes = m_card.SizeBytes();
    m_capacity = bytes / kSectorSize;
    m_cardSize = bytes / (kSectorsPerCylinder * kSectorSize) * kSectorsPerCylinder;
    Line(Format(
        "Card: %llu bytes, %llu sectors; as a disk of %llu cylinders x 255 x 63: %llu sectors",
        Ull(bytes), Ull(m_capacity), Ull(m_cardSize / kSectorsPerCylinder), Ull(m_cardSize)));
    if (CheckMbr()) {
      bool chainOk = CheckEbrChain();
      if (chainOk) CheckPlan();
      CheckBootRecords();
      CheckFat32();
    }
    if (m_result.problems.empty()) {
      Line("Result: consistent");
    } else {
      Line(Format("Result: NOT consistent, %zu problem(s):", m_result.problems.size()));
      for (const auto& p : m_result.problems) Line("  - " + p);
    }
    return std::move(m_result);
  }

 private:
  static unsigned long long Ull(uint64_t v) { return v; }

  void Line(const std::string& text) { m_result.report += text + "\n"; }
  void Problem(const std::string& text) {
    Line("  PROBLEM: " + text);
    m_result.problems.push_back(text);
  }
  void Check(bool ok, const std::string& text) {
    if (!ok) Problem(text);
  }

  bool Read(uint64_t first, uint32_t count, std::vector<uint8_t>& out, const char* what) {
    if (first >= m_capacity || count > m_capacity - first) {
      Problem(Format("%s: sectors %llu..%llu lie past the end of the card (%llu sectors)", what,
                     Ull(first), Ull(first + count - 1), Ull(m_capacity)));
      return false;
    }
    if (const SysStatus read = m_card.ReadSectors(first, count, out); !read) {
      Problem(Format("%s: cannot read sector %llu: %s", what, Ull(first), read.Text().c_str()));
      return false;
    }
    return true;
  }

  // ---- MBR ----
  bool CheckMbr() {
    std::vector<uint8_t> mbr;
    Line("MBR (sector 0)");
    if (!Read(0, 1, mbr, "MBR")) return false;
    const uint8_t* p = mbr.data();
    Line(Format("  disk signature %02X %02X %02X %02X, boot signature %02X %02X", p[440], p[441],
                p[442], p[443], p[510], p[511]));
    Check(p[440] == 0xCA && p[441] == 0x96 && p[442] == 0xCA && p[443] == 0x96,
          "MBR: disk signature (bytes 440-443) is not CA 96 CA 96");
    Check(p[444] == 0 && p[445] == 0, "MBR: bytes 444-445 are not zero");
    Check(p[510] == 0x55 && p[511] == 0xAA, "MBR: boot signature is not 55 AA");
    static const uint8_t kTypes[4] = {0x0B, 0x05, 0xBB, 0xBB};
    static const char* const kRoles[4] = {"FAT32", "extended (System, Data, Cache)", "Recovery",
                                          "Boot"};
    for (int i = 0; i < 4; ++i) {
      m_entries[i] = ReadEntry(mbr, i);
      const Entry& e = m_entries[i];
      Line(Format("  entry %d: type 0x%02X, first sector %u, %u sectors  %s", i, e.type, e.first,
                  e.count, kRoles[i]));
      Check(e.status == 0, Format("MBR entry %d: status 0x%02X, expected 0x00", i, e.status));
      Check(e.type == kTypes[i],
            Format("MBR entry %d: type 0x%02X, expected 0x%02X", i, e.type, kTypes[i]));
      if (i == 0) {
        Check(ChsIs(e.chsFirst, 0x01, 0x01, 0x00) && ChsIs(e.chsLast, 0xFE, 0xFF, 0xFF),
              "MBR entry 0: CHS fields are not 01 01 00 / FE FF FF");
      } else {
        Check(ChsIs(e.chsFirst, 0, 0, 0) && ChsIs(e.chsLast, 0, 0, 0),
              Format("MBR entry %d: CHS fields are not zero", i));
      }
      uint64_t end = uint64_t{e.first} + e.count;
      Check(end <= m_cardSize, Format("MBR entry %d ends at sector %llu, past the card's %llu", i,
                                      Ull(end), Ull(m_cardSize)));
    }
    Check(m_entries[0].first == 63, "MBR entry 0 does not start at sector 63");
    for (int i = 1; i < 4; ++i) {
      Check(m_entries[i].first >= uint64_t{m_entries[i - 1].first} + m_entries[i - 1].count,
            Format("MBR entry %d overlaps entry %d", i, i - 1));
    }
    m_x = m_entries[1].first;
    m_r = m_entries[2].first;
    m_p = m_entries[3].first;
    return true;
  }

  // ---- EBR chain ----
  bool CheckEbr(const char* name, uint64_t sector, bool last, uint32_t& logical,
                uint32_t& linkFirst, uint32_t& linkCount) {
    std::vector<uint8_t> ebr;
    if (!Read(sector, 1, ebr, name)) return false;
    const uint8_t* p = ebr.data();
    Entry e0 = ReadEntry(ebr, 0);
    Entry e1 = ReadEntry(ebr, 1);
    logical = e0.count;
    linkFirst = e1.first;
    linkCount = e1.count;
    if (last) {
      Line(Format("  %s at sector %llu: partition at %llu, %u sectors; end of chain", name,
                  Ull(sector), Ull(sector + e0.first), e0.count));
    } else {
      Line(Format(
          "  %s at sector %llu: partition at %llu, %u sectors; next EBR at %llu (%u sectors)", name,
          Ull(sector), Ull(sector + e0.first), e0.count, Ull(m_x + e1.first), e1.count));
    }
    bool ok = true;
    auto check = [&](bool cond, const std::string& text) {
      if (!cond) {
        Problem(text);
        ok = false;
      }
    };
    check(p[510] == 0x55 && p[511] == 0xAA, Format("%s: boot signature is not 55 AA", name));
    check(AllZero(p, 446) && AllZero(p + 478, 32),
          Format("%s: bytes outside its two entries are not zero", name));
    check(e0.status == 0 && ChsIs(e0.chsFirst, 0, 0, 0) && ChsIs(e0.chsLast, 0, 0, 0) &&
              e0.type == 0x83 && e0.first == 63,
          Format("%s: first entry is not a type 0x83 partition 63 sectors after the EBR", name));
    if (last) {
      check(AllZero(p + 462, 16), Format("%s: second entry is not zero (end of chain)", name));
    } else {
      check(e1.status == 0 && ChsIs(e1.chsFirst, 0, 0, 0) && ChsIs(e1.chsLast, 0, 0, 0) &&
                e1.type == 0x05,
            Format("%s: second entry is not a type 0x05 link", name));
    }
    return ok;
  }

  bool CheckEbrChain() {
    Line("EBR chain");
    if (m_x == 0 || m_x >= m_capacity) {
      Problem("extended partition start lies outside the card; EBR chain not read");
      return false;
    }
    uint32_t sysLen, dataLen, cacheLen, l1, sdata, l2, scache, endFirst, endCount;
    // A link back to an EBR already read would make the chain a loop.
    auto loops = [&](const char* from, uint64_t next, std::initializer_list<uint64_t> seen) {
      for (uint64_t at : seen) {
        if (next != at) continue;
        Problem(Format("EBR chain loops: the link of the %s leads back to the EBR at sector %llu",
                       from, Ull(at)));
        return true;
      }
      return false;
    };
    if (!CheckEbr("System EBR", m_x, false, sysLen, l1, sdata)) return false;
    if (loops("System EBR", m_x + l1, {m_x})) return false;
    if (!CheckEbr("Data EBR", m_x + l1, false, dataLen, l2, scache)) return false;
    if (loops("Data EBR", m_x + l2, {m_x, m_x + l1})) return false;
    if (!CheckEbr("Cache EBR", m_x + l2, true, cacheLen, endFirst, endCount)) return false;
    bool ok = true;
    auto check = [&](bool cond, const std::string& text) {
      if (!cond) {
        Problem(text);
        ok = false;
      }
    };
    check(uint64_t{sysLen} + 63 == l1,
          "System EBR: link does not point just past the System partition");
    check(uint64_t{dataLen} + 63 == sdata, "System EBR: link length does not match the Data slot");
    check(uint64_t{l1} + sdata == l2, "Data EBR: link does not point just past the Data partition");
    check(uint64_t{cacheLen} + 63 == scache, "Data EBR: link length does not match the Cache slot");
    m_slots = {l1, sdata, scache};
    return ok;
  }

  // ---- partition plan ----
  void CheckPlan() {
    uint64_t ssys = m_slots[0], sdata = m_slots[1], scache = m_slots[2];
    uint64_t recovery = m_entries[2].count, boot = m_entries[3].count;
    for (int i = 0; i < 3; ++i) {
      Check(m_slots[i] % 8 == 0,
            Format("logical slot %d (%u sectors) is not a multiple of 8", i, m_slots[i]));
    }
    uint64_t e = ssys + sdata + scache + 189;
    uint64_t e8 = RoundUp8(e);
    uint64_t used = RoundUp8(boot) + RoundUp8(recovery) + e8;
    Line(Format("Partition plan: slots %llu/%llu/%llu, Recovery %llu, Boot %llu on %llu sectors",
                Ull(ssys), Ull(sdata), Ull(scache), Ull(recovery), Ull(boot), Ull(m_cardSize)));
    if (used + 126 + 16 >= m_cardSize) {
      Problem("the partitions do not fit the card's size");
      return;
    }
    uint64_t f = m_cardSize - used;
    if (f % 8 != 0) f = (f / 8 - 1) * 8;
    f -= 126;
    uint64_t x = f + 63;
    uint64_t r = x + e8 + 63;
    uint64_t p = r + RoundUp8(recovery);
    Check(m_entries[0].count == f,
          Format("MBR entry 0 holds %u sectors; a card of this size gives %llu", m_entries[0].count,
                 Ull(f)));
    Check(m_x == x, Format("MBR entry 1 starts at %llu; expected %llu", Ull(m_x), Ull(x)));
    Check(m_entries[1].count == e, Format("MBR entry 1 holds %u sectors; the EBR chain gives %llu",
                                          m_entries[1].count, Ull(e)));
    Check(m_r == r, Format("MBR entry 2 starts at %llu; expected %llu", Ull(m_r), Ull(r)));
    Check(m_p == p, Format("MBR entry 3 starts at %llu; expected %llu", Ull(m_p), Ull(p)));
    if (m_expected) {
      const ExpectedLayout& ex = *m_expected;
      Check(boot == ex.boot, Format("Boot partition holds %llu sectors; the configuration says %u",
                                    Ull(boot), ex.boot));
      Check(recovery == ex.recovery,
            Format("Recovery partition holds %llu sectors; the configuration says %u",
                   Ull(recovery), ex.recovery));
      const uint32_t want[3] = {ex.system, ex.data, ex.cache};
      static const char* const kNames[3] = {"System", "Data", "Cache"};
      for (int i = 0; i < 3; ++i) {
        Check(m_slots[i] == RoundUp8(want[i]),
              Format("%s slot holds %u sectors; the configuration gives %llu", kNames[i],
                     m_slots[i], Ull(RoundUp8(want[i]))));
      }
    }
    ReportFileSystem("System", m_x + 63);
    ReportFileSystem("Data", m_x + ssys + 63);
    ReportFileSystem("Cache", m_x + ssys + sdata + 63);
  }

  // Names the ext2/3/4 file system at a partition's start, when there is one.
  void ReportFileSystem(const char* name, uint64_t first) {
    std::vector<uint8_t> sb;
    if (first + 4 > m_capacity || !m_card.ReadSectors(first + 2, 2, sb)) return;
    if (GetU16(sb.data(), 56) == 0xEF53) {
      const uint8_t* name16 = sb.data() + 120;
      const std::string volume =
          PrintableText(name16, static_cast<size_t>(std::find(name16, name16 + 16, 0) - name16));
      uint64_t blocks = GetU32(sb.data(), 4);
      uint64_t blockSize = uint64_t{1024} << std::min<uint32_t>(GetU32(sb.data(), 24), 16);
      Line(Format("  %s at sector %llu: ext2/3/4 file system \"%s\", %llu bytes", name, Ull(first),
                  volume.c_str(), Ull(blocks * blockSize)));
    } else {
      Line(Format("  %s at sector %llu: no ext2/3/4 file system", name, Ull(first)));
    }
  }

  // ---- BootInfo, UBootInfo, boot loader copies ----
  void CheckBootRecords() {
    Line(Format("BootInfo (sectors %llu..%llu)", Ull(m_p), Ull(m_p + 3)));
    std::vector<uint8_t> copies;
    if (!Read(m_p, 4, copies, "BootInfo")) return;
    const uint8_t* bi = copies.data();
    bool identical = true;
    for (int j = 1; j < 4; ++j) {
      if (std::memcmp(bi, bi + 512 * j, 512) != 0) {
        Problem(Format("BootInfo copy %d (sector %llu) differs from copy 0", j, Ull(m_p + j)));
        identical = false;
      }
    }
    bool magic = std::memcmp(bi, kBootInfoMagic, 8) == 0;
    uint32_t infoCrc = GetU32(bi, bootinfo::kInfoCrc);
    uint32_t infoCrcWant = m_crc.Compute(bi, bootinfo::kInfoCrc);
    Line(Format("  %s, magic %s, infoCrc 0x%08X %s",
                identical ? "four identical copies" : "copies differ", magic ? "KDFUUFDK" : "wrong",
                infoCrc, infoCrc == infoCrcWant ? "ok" : "WRONG"));
    Check(magic, "BootInfo: magic is not KDFUUFDK");
    Check(infoCrc == infoCrcWant,
          Format("BootInfo: infoCrc 0x%08X, the record gives 0x%08X", infoCrc, infoCrcWant));
    Check(bi[31] == 0 && AllZero(bi + 65, 3) && AllZero(bi + 506, 2),
          "BootInfo: reserved bytes are not zero");
    uint32_t imageLen = GetU32(bi, bootinfo::kImageLen);
    uint32_t imageCrc = GetU32(bi, bootinfo::kImageCrc);
    uint32_t storeNum = bi[bootinfo::kImageStoreNum];
    Line(Format("  loadPlainTextAddr 0x%X, loadCipherTextAddr 0x%X, goAddr 0x%X",
                GetU32(bi, bootinfo::kLoadPlainTextAddr), GetU32(bi, bootinfo::kLoadCipherTextAddr),
                GetU32(bi, bootinfo::kGoAddr)));
    Line(Format("  boot loader: imageLen %u bytes, imageCrc 0x%08X, imageStoreNum %u", imageLen,
                imageCrc, storeNum));

    CheckUBootInfo();

    Check(imageLen % kSectorSize == 0,
          Format("BootInfo: imageLen %u is not a multiple of 512", imageLen));
    unsigned copiesWritten = std::min<unsigned>(storeNum, kMaxImageStore);
    Line(Format("Boot loader copies (%u)", copiesWritten));
    uint64_t lenSectors = imageLen / kSectorSize;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (unsigned i = 0; i < copiesWritten; ++i) {
      uint32_t at = GetU32(bi, bootinfo::kImageStoreCoreAddr + 4 * i);
      uint64_t first = m_p + at;
      if (at < kFirstCopySector || uint64_t{at} + lenSectors > kLoaderAreaEnd) {
        Problem(
            Format("boot loader copy %u at P + %u lies outside sectors 16..8191 of the Boot "
                   "partition",
                   i, at));
        continue;
      }
      for (const auto& [a, b] : ranges) {
        if (at < b && a < at + lenSectors) {
          Problem(Format("boot loader copy %u at P + %u overlaps another copy", i, at));
        }
      }
      ranges.emplace_back(at, at + lenSectors);
      std::vector<uint8_t> image;
      if (lenSectors != 0 &&
          !Read(first, static_cast<uint32_t>(lenSectors), image, "boot loader copy"))
        continue;
      uint32_t crc = m_crc.Compute(image.data(), image.size());
      Line(Format("  copy %u at sector %llu (P + %u), %llu sectors: CRC 0x%08X %s", i, Ull(first),
                  at, Ull(lenSectors), crc, crc == imageCrc ? "ok" : "WRONG"));
      Check(crc == imageCrc,
            Format("boot loader copy %u at sector %llu: CRC 0x%08X, imageCrc says 0x%08X", i,
                   Ull(first), crc, imageCrc));
    }
  }

  void CheckUBootInfo() {
    uint64_t at = m_p + kUBootInfoOffset;
    Line(Format("UBootInfo (sectors %llu..%llu)", Ull(at), Ull(at + 3)));
    std::vector<uint8_t> rec;
    if (!Read(at, 4, rec, "UBootInfo")) return;
    const uint8_t* u = rec.data();
    uint32_t crc = GetU32(u, ubootinfo::kUBootInfoCrc);
    uint32_t crcWant = m_crc.Compute(u, ubootinfo::kUBootInfoCrc);
    Line(Format("  uBootInfoCrc 0x%08X %s", crc, crc == crcWant ? "ok" : "WRONG"));
    Check(crc == crcWant,
          Format("UBootInfo: uBootInfoCrc 0x%08X, the record gives 0x%08X", crc, crcWant));
    Check(AllZero(u + kUBootInfoSize, kUBootInfoSectorBytes - kUBootInfoSize),
          "UBootInfo: bytes 1740-2047 are not zero");
    Check(AllZero(u + 12, 12) && AllZero(u + 36, 12), "UBootInfo: reserved words are not zero");
    uint32_t envStart = GetU32(u, ubootinfo::kBootEnvStart);
    uint32_t envSize = GetU32(u, ubootinfo::kBootEnvSize);
    uint32_t resStart = GetU32(u, ubootinfo::kBootResStart);
    uint32_t resSize = GetU32(u, ubootinfo::kBootResSize);
    uint32_t imgStart = GetU32(u, ubootinfo::kBootImgStart);
    uint32_t imgSize = GetU32(u, ubootinfo::kBootImgSize);
    Line(Format("  BootEnv at %u, %u bytes; BootRes at %u, %u bytes; BootImg at %u, %u bytes",
                envStart, envSize, resStart, resSize, imgStart, imgSize));
    Check(envStart == m_p + kBootEnvOffset,
          Format("UBootInfo: bootEnvStart %u, expected P + 8192 = %llu", envStart,
                 Ull(m_p + kBootEnvOffset)));
    Check(envSize == kBootEnvBytes, Format("UBootInfo: bootEnvSize %u, expected 1048576", envSize));
    Check(resStart == m_p + kBootResOffset,
          Format("UBootInfo: bootResStart %u, expected P + 10244 = %llu", resStart,
                 Ull(m_p + kBootResOffset)));
    uint64_t imgWant = uint64_t{resStart} + resSize / kSectorSize + kBootResToBootImgGap;
    Check(imgStart == imgWant,
          Format("UBootInfo: bootImgStart %u, expected %llu", imgStart, Ull(imgWant)));
    Check(GetU32(u, ubootinfo::kBootResFlag) == 1, "UBootInfo: bootResFlag is not 1");
    Check(GetU32(u, ubootinfo::kBootImgFlag) == 1, "UBootInfo: bootImgFlag is not 1");
    uint64_t bootEnd = m_p + m_entries[3].count;
    Check(uint64_t{imgStart} + ImageSectorCount(imgSize) <= bootEnd,
          "UBootInfo: the boot image reaches past the end of the Boot partition");
  }

  // ---- FAT32 ----
  void CheckFat32() {
    uint64_t s = m_entries[0].first;
    uint32_t total = m_entries[0].count;
    Line(Format("FAT32 (boot sector at %llu)", Ull(s)));
    std::vector<uint8_t> head;
    if (!Read(s, 8, head, "FAT32 boot sectors")) return;
    const uint8_t* b = head.data();
    uint32_t fatSz = GetU32(b, kBpbFatSize32);
    auto fatSzWant = static_cast<uint32_t>(Fat32FatSectors(total));
    Check(b[510] == 0x55 && b[511] == 0xAA, "FAT32 boot sector: signature is not 55 AA");
    Check(GetU16(b, kBpbBytesPerSector) == 512 && b[kBpbSectorsPerCluster] == kSectorsPerCluster &&
              GetU16(b, kBpbReserved) == kFatReserved && b[kBpbFatCount] == 2 &&
              GetU16(b, kBpbRootEntries) == 0 && GetU16(b, kBpbTotal16) == 0 &&
              b[kBpbMedia] == 0xF8 && GetU16(b, kBpbFatSize16) == 0,
          "FAT32 boot sector: fixed geometry fields are wrong");
    Check(GetU32(b, kBpbHidden) == s,
          "FAT32 boot sector: hidden sectors do not match the partition");
    Check(GetU32(b, kBpbTotal32) == total,
          Format("FAT32 boot sector: %u sectors, the MBR says %u", GetU32(b, kBpbTotal32), total));
    Check(fatSz == fatSzWant,
          Format("FAT32 boot sector: FAT size %u, expected %u", fatSz, fatSzWant));
    Check(GetU32(b, kBpbRootCluster) == 2 && GetU16(b, kBpbFsInfo) == 1 &&
              GetU16(b, kBpbBackup) == 6 && b[kBpbExtSignature] == 0x29,
          "FAT32 boot sector: root cluster, FSInfo, backup or signature fields are wrong");
    Check(std::memcmp(b + kBpbFsType, "FAT32   ", 8) == 0,
          "FAT32 boot sector: file-system type is not \"FAT32   \"");
    Check(std::memcmp(b, b + 6 * 512, 512) == 0,
          "FAT32: backup boot sector (+6) differs from the boot sector");
    Check(std::memcmp(b + 512, "RRaA", 4) == 0 && std::memcmp(b + 7 * 512, "RRaA", 4) == 0,
          "FAT32: FSInfo sectors (+1, +7) lack their lead signature RRaA");
    uint64_t fat1 = s + kFatReserved;
    uint64_t fat2 = fat1 + fatSz;
    uint64_t dir = fat1 + 2 * uint64_t{fatSz};
    uint64_t clusters = total > dir - s ? (total - (dir - s)) / kSectorsPerCluster : 0;
    Line(
        Format("  %u sectors, FAT size %u, FATs at %llu and %llu, root directory at %llu, %llu "
               "clusters",
               total, fatSz, Ull(fat1), Ull(fat2), Ull(dir), Ull(clusters)));
    Line("  boot sector label \"" + PrintableText(b + 71, 11) + "\"");
    std::vector<uint8_t> sector;
    if (Read(fat1, 1, sector, "first FAT")) {
      Check(
          std::memcmp(sector.data(), kFatFirstSector, 12) == 0 && AllZero(sector.data() + 12, 500),
          "FAT32: first sector of the first FAT is wrong");
    }
    if (Read(fat2, 1, sector, "second FAT")) {
      Check(
          std::memcmp(sector.data(), kFatFirstSector, 12) == 0 && AllZero(sector.data() + 12, 500),
          "FAT32: first sector of the second FAT is wrong");
    }
    if (Read(dir, 1, sector, "root directory")) {
      const uint8_t* d = sector.data();
      const std::string label = PrintableText(d, 11);
      Line("  volume label \"" + label + "\" (root directory)");
      Check(d[11] == 0x08, "FAT32: the root directory's first entry is not a volume label");
      if (m_expected) {
        Check(std::memcmp(d, m_expected->label.data(), 11) == 0,
              "FAT32: volume label \"" + label + "\", the configuration says \"" +
                  PrintableText(m_expected->label.data(), 11) + "\"");
      }
    }
  }

  ICardSource& m_card;
  const std::optional<ExpectedLayout>& m_expected;
  CCrc32 m_crc;
  InspectResult m_result;
  uint64_t m_capacity = 0;  // sectors the card holds
  uint64_t m_cardSize = 0;  // sectors as the burn sees the card (whole cylinders)
  Entry m_entries[4];
  uint64_t m_x = 0, m_r = 0, m_p = 0;
  std::array<uint32_t, 3> m_slots{};
};

}  // namespace

ExpectedLayout ReadExpectedLayout(const std::string& cfgFile) {
  const PartitionConfig partition = ReadBoardConfig(cfgFile).Partition();
  ExpectedLayout layout;
  layout.boot = partition.boot;
  layout.recovery = partition.recovery;
  layout.system = partition.system;
  layout.data = partition.data;
  layout.cache = partition.cache;
  const std::string& label = partition.label;
  layout.label.fill(' ');
  std::copy_n(label.begin(), std::min<size_t>(label.size(), 11), layout.label.begin());
  return layout;
}

InspectResult InspectCard(ICardSource& card, const std::optional<ExpectedLayout>& expected) {
  return Inspector(card, expected).Run();
}

std::string PrintableText(const void* bytes, size_t length) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* p = static_cast<const uint8_t*>(bytes);
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = p[i];
    if (c == '\\') {
      text += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 0x0F];
    }
  }
  return text;
}

}  // namespace tarnwick::cli
