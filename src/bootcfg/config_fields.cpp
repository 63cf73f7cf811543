#include "bootcfg/config_fields.h"

#include <array>

#include "bootcfg/board_config.h"
#include "bootcfg/boot_info.h"
#include "common/le.h"

namespace tarnwick {
namespace {

struct FieldSpec {
  const char* key;
  size_t offset;
  unsigned width;
};

// BootInfo sections with fixed keys.
constexpr std::array kAddrFields{
    FieldSpec{"loadPlainTextAddr", 8, 4},
    FieldSpec{"loadCipherTextAddr", 12, 4},
    FieldSpec{"goAddr", 16, 4},
};
constexpr std::array kImageInfoFields{
    FieldSpec{"imageEncrypt", 28, 1},
    FieldSpec{"imageNoCrcFlag", 29, 1},
    FieldSpec{"imageDcacheEn", 30, 1},
};
constexpr FieldSpec kImageStoreNum{"imageStoreNum", bootinfo::kImageStoreNum, 1};
constexpr const char* kImageStoreCoreAddr = "imageStoreCoreAddr";
constexpr std::array kNandFields{
    FieldSpec{"nandBlocksPerNand", 400, 4},  FieldSpec{"nandPageSize", 404, 2},
    FieldSpec{"nandSpareSize", 406, 2},      FieldSpec{"nandPagePerBlock", 408, 2},
    FieldSpec{"nandBbtLocation[0]", 410, 2}, FieldSpec{"nandBbtLocation[1]", 412, 2},
    FieldSpec{"nandBbtNum", 414, 1},         FieldSpec{"nandBbtPageNum", 415, 1},
    FieldSpec{"nandEccType", 416, 1},        FieldSpec{"nandReadEdge", 417, 1},
    FieldSpec{"nandDataWidth", 418, 1},      FieldSpec{"nandReconfigBypass", 419, 1},
};
constexpr std::array kSdioFields{
    FieldSpec{"sdInternalDiv", 420, 2},
    FieldSpec{"sdSampleFallingEdge", 422, 1},
    FieldSpec{"sdReconfigBypass", 423, 1},
};
constexpr std::array kEfuseFields{
    FieldSpec{"efcPsReadWidth", 500, 1},
    FieldSpec{"efcStandbyWidth", 501, 1},
    FieldSpec{"efcPgmWidth", 502, 2},
};
constexpr std::array kUsbFields{
    FieldSpec{"VenderCmdMode", 504, 2},
};

// The DRAM controller block: BootInfo bytes 68..399 and bytes 12..343 of a
// DDR table entry share this layout (offsets relative to the block).
constexpr FieldSpec kDdrcHead{"ddramSize", 0, 4};
constexpr size_t kDdrcRegAddr = 4;
constexpr size_t kDdrcRegVal = kDdrcRegAddr + 4 * kDdrcRegPairs;
constexpr std::array kDdrcTail{
    FieldSpec{"ddrcCfgWakeup", 316, 4},
    FieldSpec{"ddrcTrainingAddr", 320, 4},
    FieldSpec{"ddrcRegConfNum", 324, 1},
    FieldSpec{"ddrcTrainingBypass", 325, 1},
    FieldSpec{"ddrcInitialDoneBypass", 326, 1},
    FieldSpec{"ddrNormalSelfRefByapss", 327, 1},
    FieldSpec{"ddrNormalSleepCfg1Bypass", 328, 1},
    FieldSpec{"ddrcSelfRefSomeCfg", 329, 1},
    FieldSpec{"ddrcZqCtrl0Bypass", 330, 1},
    FieldSpec{"ddrcDllOffModeBypass", 331, 1},
};
constexpr size_t kDdrcBlockSize = 332;

// The clock block: BootInfo bytes 424..499 and a whole clock table entry.
constexpr std::array kClkFields{
    FieldSpec{"clkBypassCtrl", 0, 4},   FieldSpec{"cpuClkCfg", 4, 4},
    FieldSpec{"cpuPllCfg", 8, 4},       FieldSpec{"busClkCfg", 12, 4},
    FieldSpec{"busPllCfg", 16, 4},      FieldSpec{"ddrcClkCfg", 20, 4},
    FieldSpec{"ddrcPllCfg", 24, 4},     FieldSpec{"storPeriSrcCfg", 28, 4},
    FieldSpec{"storPllCfg", 32, 4},     FieldSpec{"sdioMclkCfg", 36, 4},
    FieldSpec{"nfcClkCfg1", 40, 4},     FieldSpec{"nfcClkCfg2", 44, 4},
    FieldSpec{"clkUartMclkCfg", 48, 4}, FieldSpec{"clkPerUartBcr", 52, 4},
    FieldSpec{"clkPeriMiscCfg", 56, 4}, FieldSpec{"clkPerTimerMclk", 60, 4},
    FieldSpec{"clkMemMclkCfg", 64, 4},  FieldSpec{"emiPllCfg", 68, 4},
    FieldSpec{"clkConfDelay", 72, 4},
};

// The head of a DDR table entry: the clocks the DRAM setting belongs to.
constexpr std::array kDdrEntryClocks{
    FieldSpec{"cpuClk", 0, 4},
    FieldSpec{"busClk", 4, 4},
    FieldSpec{"ddrClk", 8, 4},
};
constexpr size_t kDdrEntryBlock = 12;

constexpr size_t kBootInfoDdrcBlock = 68;
constexpr size_t kBootInfoClkBlock = 424;

// Each table's fields follow one another without gaps from `begin` to `end`,
// so a wrong width or offset anywhere breaks the build.
template <size_t N>
constexpr bool Contiguous(const std::array<FieldSpec, N>& fields, size_t begin, size_t end) {
  size_t next = begin;
  for (const FieldSpec& f : fields) {
    if (f.offset != next || (f.width != 1 && f.width != 2 && f.width != 4)) return false;
    next += f.width;
  }
  return next == end;
}

static_assert(Contiguous(kAddrFields, bootinfo::kLoadPlainTextAddr, bootinfo::kImageLen));
static_assert(Contiguous(kImageInfoFields, 28, 31));  // byte 31 reserved
static_assert(Contiguous(kNandFields, kBootInfoDdrcBlock + kDdrcBlockSize, 420));
static_assert(Contiguous(kSdioFields, 420, kBootInfoClkBlock));
static_assert(Contiguous(kClkFields, 0, kClkEntrySize));
static_assert(Contiguous(kEfuseFields, kBootInfoClkBlock + kClkEntrySize, 504));
static_assert(Contiguous(kUsbFields, 504, 506));  // bytes 506..507 reserved
static_assert(Contiguous(kDdrcTail, kDdrcRegVal + 4 * kDdrcRegPairs, kDdrcBlockSize));
static_assert(Contiguous(kDdrEntryClocks, 0, kDdrEntryBlock));
static_assert(kDdrEntryBlock + kDdrcBlockSize == kDdrEntrySize);
static_assert(kBootInfoDdrcBlock + kDdrcBlockSize == 400);
static_assert(bootinfo::kImageStoreCoreAddr + 4 * kMaxImageStore == bootinfo::kImageStoreNum);

std::string Indexed(const char* name, unsigned i) {
  return std::string(name) + "[" + std::to_string(i) + "]";
}

template <size_t N>
void Append(std::vector<ConfigField>& out, const std::array<FieldSpec, N>& fields, size_t base) {
  for (const FieldSpec& f : fields) out.push_back({f.key, base + f.offset, f.width});
}

template <size_t N>
ConfigSection Section(std::string name, const std::array<FieldSpec, N>& fields, size_t base = 0) {
  ConfigSection section{std::move(name), {}};
  Append(section.fields, fields, base);
  return section;
}

// "ddramSize", then the register pairs address-before-value, then the rest.
void AppendDdrcBlock(std::vector<ConfigField>& out, size_t base) {
  out.push_back({kDdrcHead.key, base + kDdrcHead.offset, kDdrcHead.width});
  for (unsigned i = 0; i < kDdrcRegPairs; ++i) {
    out.push_back({Indexed("ddrcRegAddr", i), base + kDdrcRegAddr + 4 * i, 4});
    out.push_back({Indexed("ddrcRegVal", i), base + kDdrcRegVal + 4 * i, 4});
  }
  Append(out, kDdrcTail, base);
}

}  // namespace

const char* AddrSectionName(int mode) {
  return mode == 1 ? "AddrInfo" : "DfuAddrInfo";
}

std::vector<ConfigSection> BootInfoSections(int mode) {
  std::vector<ConfigSection> sections;
  sections.push_back(Section(AddrSectionName(mode), kAddrFields));
  sections.push_back(Section("ImageInfo", kImageInfoFields));

  ConfigSection store{"imageStoreInfor", {}};
  store.fields.push_back({kImageStoreNum.key, kImageStoreNum.offset, kImageStoreNum.width});
  for (unsigned i = 0; i < kMaxImageStore; ++i)
    store.fields.push_back(
        {Indexed(kImageStoreCoreAddr, i), bootinfo::kImageStoreCoreAddr + 4 * i, 4});
  sections.push_back(std::move(store));

  ConfigSection ddrc{"DDRCinfor", {}};
  AppendDdrcBlock(ddrc.fields, kBootInfoDdrcBlock);
  sections.push_back(std::move(ddrc));

  sections.push_back(Section("NandflashInfor", kNandFields));
  sections.push_back(Section("SDIOInfor", kSdioFields));
  sections.push_back(Section("CLKRSTInfor", kClkFields, kBootInfoClkBlock));
  sections.push_back(Section("EFUSEInfor", kEfuseFields));
  sections.push_back(Section("USBInfor", kUsbFields));
  return sections;
}

std::vector<ConfigSection> DdrClkSections() {
  std::vector<ConfigSection> sections;
  for (unsigned k = 0; k < kDdrClkTables; ++k) {
    const size_t ddrBase = ubootinfo::kDdrInfo + kDdrEntrySize * k;
    ConfigSection ddr{"DDRInfo" + std::to_string(k), {}};
    Append(ddr.fields, kDdrEntryClocks, ddrBase);
    AppendDdrcBlock(ddr.fields, ddrBase + kDdrEntryBlock);
    sections.push_back(std::move(ddr));
    sections.push_back(Section("CLKInfo" + std::to_string(k), kClkFields,
                               ubootinfo::kClkInfo + kClkEntrySize * k));
  }
  return sections;
}

void ReadSection(uint8_t* record, const ConfigSection& section, const BoardConfig& config) {
  for (const ConfigField& f : section.fields)
    PutField(record, f.offset, f.width, config.Value(section.name, f.key));
}

}  // namespace tarnwick
