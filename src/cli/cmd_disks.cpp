// tarnwick-cli disks: what card discovery would burn, and why the other
// disks of this computer are left out.
#include <cstdio>
#include <filesystem>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "common/json_writer.h"
#include "platform/host.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli disks [--config FILE] [--pack FILE] [--sys-root DIR] [--json]\n"
    "\n"
    "Lists the cards that 'tarnwick-cli burn' without --target would write, in\n"
    "slot order, and every other disk with the reason it is left out. The disks\n"
    "holding the working directory, Tarnwick.ini and the given configuration and\n"
    "pack files count as system disks, as they do for burn. --sys-root DIR (for\n"
    "tests) reads the disk tree (sys/block, proc) under DIR instead of /.\n"
    "Attached loop devices are listed as left out: discovery never burns them.\n"
    "--json writes the same as one JSON document (docs/disks.schema.json).\n"
    "Exit status: 0 listed, 2 bad arguments.\n";

std::string HumanSize(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return buf;
}

void WriteDisk(JsonWriter& json, const HostDisk& d) {
  json.Key("device").String(d.devicePath);
  json.Key("sizeBytes").UInt(d.bytes);
  json.Key("vendor").String(d.vendor);
  json.Key("model").String(d.model);
  json.Key("serial").String(d.serial);
  json.Key("reason").String(d.reason);
}

std::string DisksJson(const std::vector<HostDisk>& disks) {
  JsonWriter json;
  json.BeginObject().Key("cards").BeginArray();
  int slot = 0;
  for (const HostDisk& d : disks) {
    if (!d.accepted) continue;
    json.BeginObject().Key("slot").Int(slot++);
    WriteDisk(json, d);
    json.EndObject();
  }
  json.EndArray().Key("leftOut").BeginArray();
  for (const HostDisk& d : disks) {
    if (d.accepted) continue;
    json.BeginObject();
    WriteDisk(json, d);
    json.EndObject();
  }
  json.EndArray().EndObject();
  return json.Text();
}

}  // namespace

int CmdDisks(int argc, char** argv) {
  ParsedArgs args;
  if (const SysStatus parsed =
          ParseArgs(argc, argv, ArgSpec{{"--config", "--pack", "--sys-root"}, {"--json"}}, args);
      !parsed) {
    PrintError(parsed.Text());
    Err(kUsage);
    return 2;
  }
  if (args.Has("--help")) {
    Out(kUsage);
    return 0;
  }
  if (!args.positional.empty()) {
    PrintError("unexpected argument " + args.positional.front());
    return 2;
  }
  HostOptions options;
  if (auto root = args.Value("--sys-root")) options.sysRoot = *root;
  std::vector<ProtectedPath> protectedPaths{{"settings file", CSettingsFile().Path()}};
  if (auto cfg = args.Value("--config")) {
    protectedPaths.push_back({"configuration file", std::filesystem::absolute(*cfg).string()});
  }
  if (auto pack = args.Value("--pack")) {
    protectedPaths.push_back({"pack file", std::filesystem::absolute(*pack).string()});
  }
  options.protectedPaths = [protectedPaths] { return protectedPaths; };
  std::vector<HostDisk> disks = MakeHost(std::move(options))->ListDisks();
  if (args.Has("--json")) {
    Out(DisksJson(disks));
    return 0;
  }

  Out(Format("Cards a burn without --target writes, in slot order:\n"));
  int slot = 0;
  for (const HostDisk& d : disks) {
    if (!d.accepted) continue;
    Out(Format("  slot %-2d %-16s %10s  %s\n", slot++, d.devicePath.c_str(),
               HumanSize(d.bytes).c_str(), d.reason.c_str()));
  }
  if (slot == 0) Out(Format("  (none)\n"));
  Out(Format("Left out:\n"));
  bool any = false;
  for (const HostDisk& d : disks) {
    if (d.accepted) continue;
    any = true;
    Out(Format("  %-16s %10s  %s\n", d.devicePath.c_str(), HumanSize(d.bytes).c_str(),
               d.reason.c_str()));
  }
  if (!any) Out(Format("  (none)\n"));
  return 0;
}

}  // namespace tarnwick::cli
