// tarnwick-cli inspect: decodes a burned card or card image and checks it,
// and with --pack compares it with what a burn would write.
#include <cstdio>

#include "cli/args.h"
#include "cli/card_compare.h"
#include "cli/card_inspector.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "common/json_writer.h"
#include "common/sector.h"
#include "platform/host.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli inspect PATH [--config FILE [--pack FILE]] [--json]\n"
    "\n"
    "Decodes the card or card image at PATH and checks it: MBR, EBR chain,\n"
    "partition plan, BootInfo and UBootInfo with their CRCs, the boot loader\n"
    "copies against imageCrc, the FAT32 structures and the volume label.\n"
    "With --config the partition sizes and the label are also compared with\n"
    "section \"PARTITION_SECTORS\" of that configuration file.\n"
    "With --config and --pack every region a burn of that configuration and\n"
    "pack writes (MBR, BootInfo copies, boot loader copies, UBootInfo, the\n"
    "images, the EBRs, Misc, BootEnv, the FAT32 structures) is compared with\n"
    "the card, sector by sector; stages switched off in Tarnwick.ini are not\n"
    "compared and are named. The first region that differs and its first\n"
    "differing sector are named.\n"
    "--json writes the result as one JSON document (docs/inspect.schema.json).\n"
    "Exit status: 0 consistent (and the same as the burn would write), 1 not\n"
    "consistent or different, 2 bad arguments or unreadable.\n";

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

unsigned long long Ull(uint64_t v) {
  return v;
}

std::string ComparisonText(const CardComparison& c, const std::string& cfg,
                           const std::string& pack) {
  std::string text = "Compared with what a burn of " + cfg + " and " + pack + " writes\n";
  if (!c.refused.empty()) return text + "  not compared: " + c.refused + "\n";
  for (const ComparedRegion& r : c.regions) {
    const std::string state =
        r.differs ? Format("DIFFERS from sector %llu", Ull(r.firstDifferent)) : "same";
    text += Format("  %-26s %9llu sector(s) from %llu: %s\n", r.name.c_str(), Ull(r.sectors),
                   Ull(r.first), state.c_str());
  }
  for (const std::string& skipped : c.skipped) text += "  " + skipped + "\n";
  if (const ComparedRegion* first = c.FirstDifference()) {
    text += Format("Comparison: DIFFERS; first in %s at sector %llu\n", first->name.c_str(),
                   Ull(first->firstDifferent));
  } else {
    text += "Comparison: the card holds what the burn writes\n";
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string InspectJson(const std::string& path, uint64_t bytes, const InspectResult& result,
                        const CardComparison* comparison, const std::string& cfg,
                        const std::string& pack) {
  JsonWriter json;
  json.BeginObject();
  json.Key("path").String(path);
  json.Key("sizeBytes").UInt(bytes);
  json.Key("consistent").Bool(result.problems.empty());
  json.Key("problems").BeginArray();
  for (const std::string& p : result.problems) json.String(p);
  json.EndArray();
  json.Key("report").BeginArray();
  for (const std::string& line : Lines(result.report)) json.String(line);
  json.EndArray();
  json.Key("comparison");
  if (!comparison) {
    json.Null();
  } else {
    json.BeginObject();
    json.Key("config").String(cfg);
    json.Key("pack").String(pack);
    json.Key("refused");
    if (comparison->refused.empty()) {
      json.Null();
    } else {
      json.String(comparison->refused);
    }
    json.Key("skipped").BeginArray();
    for (const std::string& s : comparison->skipped) json.String(s);
    json.EndArray();
    json.Key("regions").BeginArray();
    for (const ComparedRegion& r : comparison->regions) {
      json.BeginObject();
      json.Key("name").String(r.name);
      json.Key("firstSector").UInt(r.first);
      json.Key("sectors").UInt(r.sectors);
      json.Key("same").Bool(!r.differs);
      json.Key("firstDifferentSector");
      if (r.differs) {
        json.UInt(r.firstDifferent);
      } else {
        json.Null();
      }
      json.EndObject();
    }
    json.EndArray();
    json.Key("firstDifference");
    if (const ComparedRegion* first = comparison->FirstDifference()) {
      json.BeginObject().Key("region").String(first->name);
      json.Key("sector").UInt(first->firstDifferent).EndObject();
    } else {
      json.Null();
    }
    json.EndObject();
  }
  json.EndObject();
  return json.Text();
}

}  // namespace

int CmdInspect(int argc, char** argv) {
  ParsedArgs args;
  if (const SysStatus parsed =
          ParseArgs(argc, argv, ArgSpec{{"--config", "--pack"}, {"--json"}}, args);
      !parsed) {
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
  auto cfg = args.Value("--config");
  auto pack = args.Value("--pack");
  if (pack && !cfg) {
    PrintError("--pack needs --config: the card is compared with what both produce");
    return 2;
  }
  if (cfg) {
    if (SysStatus bad = CheckInputFile("--config", "configuration file", *cfg); !bad) {
      PrintError(bad.Text());
      return 2;
    }
    expected = ReadExpectedLayout(*cfg);
  }
  if (pack) {
    if (SysStatus bad = CheckInputFile("--pack", "pack file", *pack); !bad) {
      PrintError(bad.Text());
      return 2;
    }
  }
  SysResult<std::unique_ptr<ICardReader>> reader = OpenCardReader(path);
  if (!reader) {
    PrintError(reader.Status().Text());
    return 2;
  }
  ReaderSource source(*reader.Value());
  const bool json = args.Has("--json");
  if (!json) Out(Format("Inspecting %s\n", path.c_str()));
  InspectResult result = InspectCard(source, expected);
  if (!json) Out(result.report.c_str());
  std::optional<CardComparison> comparison;
  if (pack) {
    CSettingsFile settings;
    comparison = CompareCardWithPack(*reader.Value(), *cfg, *pack, settings);
    if (!json) Out(ComparisonText(*comparison, *cfg, *pack));
  }
  if (json) {
    Out(InspectJson(path, reader.Value()->SizeBytes(), result, comparison ? &*comparison : nullptr,
                    cfg.value_or(""), pack.value_or("")));
  }
  int status = 0;
  if (!result.problems.empty()) {
    PrintError(path + ": " + std::to_string(result.problems.size()) +
               " problem(s) found; the first: " + result.problems.front());
    status = 1;
  }
  if (comparison && !comparison->refused.empty()) {
    PrintError(path + ": not compared with the pack: " + comparison->refused);
    status = 1;
  } else if (const ComparedRegion* first = comparison ? comparison->FirstDifference() : nullptr) {
    PrintError(Format("%s: differs from what %s and %s produce: first in %s at sector %llu",
                      path.c_str(), cfg->c_str(), pack->c_str(), first->name.c_str(),
                      Ull(first->firstDifferent)));
    status = 1;
  }
  return status;
}

}  // namespace tarnwick::cli
