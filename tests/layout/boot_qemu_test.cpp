// Boots small disk images under qemu-system-i386 and reads the text screen to
// prove what the MBR and FAT32 boot code do: every message of both is shown
// by one case or another.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/le.h"
#include "layout/bootcode/bootcode.h"
#include "layout/card_layout.h"
#include "layout/fat32.h"
#include "layout/mbr.h"
#include "layout/partition_plan.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr uint32_t kImageSectors = 8192;  // 4 MiB
constexpr uint32_t kPartSectors = 4000;

// Writes "STUB-RAN" at the top left of the text screen and halts, but only
// when started with DL = 80h, the boot drive: the drive number must reach it
// through both boot sectors.
const std::vector<uint8_t> kLoaderStub = {0x80, 0xFA, 0x80,  // cmp dl, 80h
                                          0x75, 0x14,        // jne halt
                                          0xB8, 0x00, 0xB8,  // mov ax, 0B800h
                                          0x8E, 0xC0,        // mov es, ax
                                          0xBE, 0x1C, 0x80,  // mov si, 801Ch (the text below)
                                          0x31, 0xFF,        // xor di, di
                                          0xB4, 0x2F,        // mov ah, 2Fh
                                          0xAC,              // next: lodsb
                                          0x84, 0xC0,        // test al, al
                                          0x74, 0x03,        // jz halt
                                          0xAB,              // stosw
                                          0xEB, 0xF8,        // jmp next
                                          0xF4,              // halt: hlt
                                          0xEB, 0xFD,        // jmp halt
                                          'S',  'T',  'U',  'B', '-', 'R', 'A', 'N', 0};

// Sector 0 of the extended-reads-off images: hooks INT 13h so that AH=41h
// and AH=42h fail, then boots the MBR kept in sector 1. The hook lives at
// 0000:0500 (below the MBR's 0600).
//   copy handler..end to 0:500; save the INT 13h vector in `old`; point the
//   vector at 0:500; jump to boot2 (in the copy)
//   handler: cmp ah,41h / je refuse / cmp ah,42h / je refuse / jmp far cs:[old]
//   refuse:  mov ah,1 / stc / sti / retf 2
//   boot2:   read CHS 0/0/2 to 0:7C00 (AX=0201h, CX=2, DH=0); jmp 0:7C00
const std::vector<uint8_t> kNoExtensionsLoader = {
    0x31, 0xc0, 0x8e, 0xd0, 0xbc, 0x00, 0x7c, 0x8e, 0xd8, 0x8e, 0xc0, 0xfc, 0xbe, 0x30,
    0x7c, 0xbf, 0x00, 0x05, 0xb9, 0x31, 0x00, 0xf3, 0xa4, 0x66, 0xa1, 0x4c, 0x00, 0x66,
    0xa3, 0x16, 0x05, 0xc7, 0x06, 0x4c, 0x00, 0x00, 0x05, 0xc7, 0x06, 0x4e, 0x00, 0x00,
    0x00, 0xea, 0x1a, 0x05, 0x00, 0x00, 0x80, 0xfc, 0x41, 0x74, 0x0a, 0x80, 0xfc, 0x42,
    0x74, 0x05, 0x2e, 0xff, 0x2e, 0x16, 0x05, 0xb4, 0x01, 0xf9, 0xfb, 0xca, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0xb8, 0x01, 0x02, 0xb9, 0x02, 0x00, 0x30, 0xf6, 0xbb, 0x00,
    0x7c, 0xcd, 0x13, 0x72, 0x05, 0xea, 0x00, 0x7c, 0x00, 0x00, 0xf4, 0xeb, 0xfd};

struct Entry {
  uint8_t status = 0;
  uint8_t type = 0;
  uint32_t first = 0;
};

// What lies on the FAT32 partition of a test image.
struct Volume {
  uint32_t first = 63;        // where its boot sector is written
  uint32_t hidden = 63;       // its hidden-sectors field
  uint16_t fatSize16 = 0;     // offset 22
  uint16_t version = 0;       // offset 42
  bool primarySigned = true;  // 55 AA on the boot sector at `first`
  bool backup = false;        // a good copy at first + 6
  bool stub = true;           // the loader stub at hidden + 12
};

using Image = std::vector<uint8_t>;

uint8_t* SectorAt(Image& image, uint32_t sector) {
  return image.data() + sector * 512ull;
}

void PutMbr(uint8_t* s, const std::vector<Entry>& entries) {
  const SectorBytes mbr = MbrTemplate();
  std::memcpy(s, mbr.data(), 446);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = s + 446 + 16 * i;
    const uint8_t chs[] = {entries[i].status, 1, 1, 0, entries[i].type, 0xFE, 0xFF, 0xFF};
    std::memcpy(e, chs, sizeof chs);
    PutU32(e, 8, entries[i].first);
    PutU32(e, 12, kPartSectors);
  }
  s[510] = 0x55;
  s[511] = 0xAA;
}

// The burn's boot sector template with the volume's fields set.
void PutBootSector(uint8_t* s, const Volume& v, bool sign) {
  SectorBytes b = Fat32BootSectorTemplate();
  PutU16(b.data(), 22, v.fatSize16);
  PutU32(b.data(), 28, v.hidden);
  PutU32(b.data(), 32, kPartSectors);
  PutU32(b.data(), 36, static_cast<uint32_t>(Fat32FatSectors(kPartSectors)));
  PutU16(b.data(), 42, v.version);
  if (!sign) b[510] = b[511] = 0;
  std::memcpy(s, b.data(), b.size());
}

Image MakeImage(const std::vector<Entry>& entries, const Volume& v, bool noExtensions) {
  Image image(kImageSectors * 512ull, 0);
  if (noExtensions) {
    std::memcpy(SectorAt(image, 0), kNoExtensionsLoader.data(), kNoExtensionsLoader.size());
    SectorAt(image, 0)[510] = 0x55;
    SectorAt(image, 0)[511] = 0xAA;
    PutMbr(SectorAt(image, 1), entries);
  } else {
    PutMbr(SectorAt(image, 0), entries);
  }
  PutBootSector(SectorAt(image, v.first), v, v.primarySigned);
  if (v.backup) PutBootSector(SectorAt(image, v.first + 6), v, true);
  if (v.stub) std::memcpy(SectorAt(image, v.hidden + 12), kLoaderStub.data(), kLoaderStub.size());
  return image;
}

// One QEMU run on an image, driven through its monitor on standard input.
// The screen is read by saving the VGA text memory to a file.
class Machine {
 public:
  Machine(const TempDir& dir, const std::string& image) : m_dir(dir) {
    // `timeout` bounds the run even if the quit command is never taken.
    const std::string cmd =
        "timeout 120 qemu-system-i386 -nodefaults -vga std -display none"
        " -monitor stdio -drive file=" +
        image +
        ",format=raw,if=ide"
        " > " +
        dir.File("monitor.log") + " 2>&1";
    // A QEMU that failed to start must fail the test, not kill it on a write.
    std::signal(SIGPIPE, SIG_IGN);
    m_pipe = popen(cmd.c_str(), "w");
  }
  ~Machine() {
    if (!m_pipe) return;
    Send("quit");
    pclose(m_pipe);
  }
  bool started() const { return m_pipe != nullptr; }

  // The 80x25 characters of the screen, row after row.
  std::string Screen() {
    const std::string file = m_dir.File("screen" + std::to_string(m_shots++) + ".bin");
    Send("pmemsave 0xb8000 4000 \"" + file + "\"");
    for (int i = 0; i < 500; ++i) {
      std::error_code ec;
      if (std::filesystem::file_size(file, ec) == 4000) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::vector<uint8_t> cells = testing::ReadFileBytes(file);
    std::string text;
    for (size_t i = 0; i < cells.size(); i += 2) text += static_cast<char>(cells[i]);
    return text;
  }

  // Polls the screen until `text` shows up (true) or a generous deadline
  // passes (false); *screen gets the last screen read.
  bool WaitFor(const std::string& text, std::string* screen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
      *screen = Screen();
      if (screen->find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  void Send(const std::string& command) {
    std::fprintf(m_pipe, "%s\n", command.c_str());
    std::fflush(m_pipe);
  }

  const TempDir& m_dir;
  FILE* m_pipe = nullptr;
  int m_shots = 0;
};

std::string Rows(const std::string& screen) {
  std::string out;
  for (size_t i = 0; i < screen.size(); i += 80) out.append("|").append(screen, i, 80).append("\n");
  return out;
}

struct BootCase {
  const char* name;
  std::vector<Entry> entries;
  Volume volume;
  bool noExtensions;
  std::vector<std::string> expected;  // all shown, in this order on the screen
  const char* absent = nullptr;       // never shown; by default the other outcome's text
};

void PrintTo(const BootCase& c, std::ostream* os) {
  *os << c.name;
}

Volume With(void (*change)(Volume&)) {
  Volume v;
  change(v);
  return v;
}

const Volume kGood;
const Volume kOnlyBackupSigned = With([](Volume& v) { v.primarySigned = false, v.backup = true; });
const Volume kUnsigned = With([](Volume& v) { v.primarySigned = false; });
const Volume kFat16Size = With([](Volume& v) { v.fatSize16 = 1; });
const Volume kVersion1 = With([](Volume& v) { v.version = 0x100; });
const Volume kLoaderFar = With([](Volume& v) { v.hidden = 0x00F00000, v.stub = false; });
const Volume kNoStub = With([](Volume& v) { v.stub = false; });
const Volume kAt2048 = With([](Volume& v) { v.first = v.hidden = 2048; });
const Volume kAt5000 = With([](Volume& v) { v.first = v.hidden = 5000; });

const Entry kFat{0x80, 0x0B, 63};  // the active FAT32 partition at 63
const char kStub[] = "STUB-RAN";
const char kMissing[] = "Missing operating system";
const char kInvalid[] = "Invalid partition table";
const char kLoadError[] = "Error loading operating system";
const std::vector<std::string> kDiskError = {"Disk error", "Press any key to restart"};
const std::vector<std::string> kRemoveDisks = {"Remove disks or other media.",
                                               "Press any key to restart"};

const BootCase kBootCases[] = {
    {"NoActiveEntry", {{0x00, 0x0B, 63}, {0x00, 0x05, 5000}}, kGood, false, {kMissing}},
    {"BadStatusByte", {{0x00, 0x0B, 63}, {0x12, 0x05, 5000}}, kGood, false, {kInvalid}},
    {"TwoActiveEntries", {kFat, {0, 0x05, 5000}, {0x80, 0xBB, 6000}}, kGood, false, {kInvalid}},
    {"ActiveFat32BootsLoader", {kFat}, kGood, false, {kStub}},
    {"ActiveThirdEntry", {{0, 5, 5000}, {0, 0xBB, 6000}, {0x80, 0x0C, 63}}, kGood, false, {kStub}},
    {"UnsignedBootSectorUsesBackupType0B", {kFat}, kOnlyBackupSigned, false, {kStub}},
    {"UnsignedBootSectorUsesBackupType0C", {{0x80, 0x0C, 63}}, kOnlyBackupSigned, false, {kStub}},
    {"NoBackupTriedForOtherTypes", {{0x80, 0x07, 63}}, kOnlyBackupSigned, false, {kMissing}},
    {"UnsignedWithoutBackup", {kFat}, kUnsigned, false, {kMissing}},
    {"PartitionPastDiskEnd", {{0x80, 0x83, 100000}}, kGood, false, {kLoadError}},
    {"Fat16SizeFieldSet", {kFat}, kFat16Size, false, kRemoveDisks},
    {"VersionFieldSet", {kFat}, kVersion1, false, kRemoveDisks},
    {"LoaderPastDiskEnd", {kFat}, kLoaderFar, false, kDiskError, "Remove disks"},
    {"BlankLoaderSectorNotRun", {kFat}, kNoStub, false, kRemoveDisks, "Disk error"},
    {"NoExtensionsChsPath", {{0x80, 0x0B, 2048}}, kAt2048, true, {kStub}},
    {"NoExtensionsDeepPartition", {{0x80, 0x0B, 5000}}, kAt5000, true, {kStub}},
    {"NoExtensionsBeyondChsRange", {{0x80, 0x0B, 2000000}}, kGood, true, {kLoadError}},
};

class BootQemuTest : public ::testing::TestWithParam<BootCase> {};

bool HaveQemu() {
  return testing::HaveProgram("qemu-system-i386") && testing::HaveProgram("timeout");
}
constexpr const char* kNoQemu =
    "qemu-system-i386 (package qemu-system-x86) or timeout is not installed";

// Boots `image` and checks the screen: every text of `expected` in this
// order, each at the start of a line, and never `absent`.
void ExpectScreen(const Image& image, const std::vector<std::string>& expected,
                  const std::string& absent) {
  TempDir dir;
  const std::string file = dir.File("card.img");
  testing::WriteFile(file, image);
  Machine machine(dir, file);
  ASSERT_TRUE(machine.started());
  std::string screen;
  ASSERT_TRUE(machine.WaitFor(expected.back(), &screen)) << Rows(screen);
  size_t at = 0;
  for (const std::string& text : expected) {
    at = screen.find(text, at);
    ASSERT_NE(at, std::string::npos) << text << " missing or out of order in\n" << Rows(screen);
    // The boot sector's own texts begin with CR LF, and the firmware ends
    // its lines before the boot code runs.
    EXPECT_EQ(at % 80, 0u) << text << " does not start a line in\n" << Rows(screen);
  }
  EXPECT_EQ(screen.find(absent), std::string::npos) << Rows(screen);
}

TEST_P(BootQemuTest, ScreenShowsOutcome) {
  if (!HaveQemu()) GTEST_SKIP() << kNoQemu;
  const BootCase& c = GetParam();
  const char* absent = c.absent ? c.absent : c.expected[0] == kStub ? "Missing" : kStub;
  ExpectScreen(MakeImage(c.entries, c.volume, c.noExtensions), c.expected, absent);
}

INSTANTIATE_TEST_SUITE_P(Boot, BootQemuTest, ::testing::ValuesIn(kBootCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The MBR and boot sector as the burn builds them: no entry is active, so
// the MBR reports a missing system; with entry 0 marked active the FAT32
// boot code runs the loader at sector 12 of the partition.
TEST(BootQemuBuiltRecords, TemplatesBootOnceEntryZeroIsActive) {
  if (!HaveQemu()) GTEST_SKIP() << kNoQemu;
  PartitionPlan plan;
  plan.m_arrStartSector = {63, 5000, 6000, 7000};
  plan.m_arrTotalSectors = {4000, 900, 500, 500};
  SectorBytes mbr = MbrTemplate();
  ASSERT_TRUE(BuildMBR(mbr, plan));
  Fat32Layout fat;
  fat.m_tDBR = Fat32BootSectorTemplate();
  ASSERT_TRUE(PrepareFat32(fat, mbr));

  Image image(kImageSectors * 512ull, 0);
  std::memcpy(SectorAt(image, 0), mbr.data(), mbr.size());
  std::memcpy(SectorAt(image, fat.m_nDBRSector), fat.m_tDBR.data(), fat.m_tDBR.size());
  std::memcpy(SectorAt(image, 63 + 12), kLoaderStub.data(), kLoaderStub.size());
  ExpectScreen(image, {kMissing}, kStub);

  SectorAt(image, 0)[kPartitionEntryOffset] = 0x80;
  ExpectScreen(image, {kStub}, "Missing");
}

TEST(BootCodeTexts, Fat32CodeHoldsLoaderNameAndLeavesLastBytesZero) {
  const std::string area(reinterpret_cast<const char*>(kFat32BootCode), sizeof kFat32BootCode);
  EXPECT_NE(area.find("NTLDR      "), std::string::npos);
  EXPECT_EQ(kFat32BootCode[508 - 90], 0);
  EXPECT_EQ(kFat32BootCode[509 - 90], 0);
}

}  // namespace
}  // namespace tarnwick
