// tarnwick-cli inspect: decodes a burned card or card image and checks it.
#include <cstdio>

#include "cli/args.h"
#include "cli/card_inspector.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "common/sector.h"
#include "platform/host.h"

namespace tarnwick::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli inspect PATH [--config FILE]\n"
    "\n"
    "Decodes the card or card image at PATH and checks it: MBR, EBR chain,\n"
    "partition plan, BootInfo and UBootInfo with their CRCs, the boot loader\n"
    "copies against imageCrc, the FAT32 structures and the volume label.\n"
    "With --config the partition sizes and the label are also compared with\n"
    "section \"PARTITION_SECTORS\" of that configuration file.\n"
    "Exit status: 0 consistent, 1 not consistent, 2 bad arguments or unreadable.\n";

class ReaderSource final : public ICardSource {
 public:
  explicit ReaderSource(ICardReader& reader) : m_reader(reader) {}
  uint64_t SizeBytes() const override { return m_reader.SizeBytes(); }
  SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) override {
    out.resize(size_t{count} * kSectorSize);
    return m_reader.ReadAt(SectorToByte(first), out.data(), out.size());
  }

 private:
  ICardReader& m_reader;
};

}  // namespace

int CmdInspect(int argc, char** argv) {
  ParsedArgs args;
  if (const SysStatus parsed = ParseArgs(argc, argv, ArgSpec{{"--config"}, {}}, args); !parsed) {
    PrintError(parsed.Text());
    Err(kUsage);
    return 2;
  }
  if (args.Has("--help")) {
    Out(kUsage);
    return 0;
  }
  if (args.positional.size() != 1) {
    PrintError("inspect needs exactly one PATH");
    Err(kUsage);
    return 2;
  }
  const std::string& path = args.positional[0];
  std::optional<ExpectedLayout> expected;
  if (path.empty()) {
    PrintError("inspect '' names no card");
    return 2;
  }
  if (auto cfg = args.Value("--config")) {
    if (SysStatus bad = CheckInputFile("--config", "configuration file", *cfg); !bad) {
      PrintError(bad.Text());
      return 2;
    }
    expected = ReadExpectedLayout(*cfg);
  }
  SysResult<std::unique_ptr<ICardReader>> reader = OpenCardReader(path);
  if (!reader) {
    PrintError(reader.Status().Text());
    return 2;
  }
  ReaderSource source(*reader.Value());
  Out(Format("Inspecting %s\n", path.c_str()));
  InspectResult result = InspectCard(source, expected);
  Out(result.report.c_str());
  if (!result.problems.empty()) {
    PrintError(path + ": " + std::to_string(result.problems.size()) +
               " problem(s) found; the first: " + result.problems.front());
    return 1;
  }
  return 0;
}

}  // namespace tarnwick::cli
