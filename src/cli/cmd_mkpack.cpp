// tarnwick-cli mkpack: builds a pack file from image files.
#include <cstdio>
#include <filesystem>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "engine/pack_file.h"

namespace tarnwick::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli mkpack --out FILE [--dfu F] [--uboot F] [--bootimg F]\n"
    "                           [--bootrecover F] [--system F] [--data F]\n"
    "                           [--cache F] [--bootres F]\n"
    "\n"
    "Builds a pack file from image files. An image left out is empty.\n"
    "Exit status: 0 written, 2 bad arguments or an image that cannot be read.\n";

struct ImageOption {
  const char* option;
  PackSlot slot;
};

constexpr ImageOption kImageOptions[] = {
    {"--dfu", PackSlot::Dfu},         {"--uboot", PackSlot::UBootBin},
    {"--bootimg", PackSlot::BootImg}, {"--bootrecover", PackSlot::BootRecover},
    {"--system", PackSlot::System},   {"--data", PackSlot::Data},
    {"--cache", PackSlot::Cache},     {"--bootres", PackSlot::BootRes},
};

}  // namespace

int CmdMkpack(int argc, char** argv) {
  ArgSpec options{{"--out"}, {}};
  for (const auto& o : kImageOptions) options.valueOptions.push_back(o.option);
  ParsedArgs args;
  if (const SysStatus parsed = ParseArgs(argc, argv, options, args); !parsed) {
    PrintError(parsed.Text());
    Err(kUsage);
    return 2;
  }
  if (args.Has("--help")) {
    Out(kUsage);
    return 0;
  }
  auto out = args.Value("--out");
  if (!out || !args.positional.empty()) {
    PrintError(out ? "unexpected argument " + args.positional.front() : "mkpack needs --out FILE");
    Err(kUsage);
    return 2;
  }
  // A FIFO as the output would hold the command until someone reads it.
  if (SysStatus bad = CheckOutputFile("--out", "pack file", *out); !bad) {
    PrintError(bad.Text());
    return 2;
  }
  PackInputs inputs;
  for (const auto& o : kImageOptions) {
    auto file = args.Value(o.option);
    if (!file) continue;
    if (SysStatus bad = CheckInputFile(o.option, std::string(o.option + 2) + " image", *file);
        !bad) {
      PrintError(std::string(o.option) + ": " + bad.Text());
      return 2;
    }
    inputs.files[static_cast<size_t>(o.slot)] = *file;
  }
  if (const SysStatus written = WritePackFile(*out, inputs); !written) {
    PrintError("cannot write the pack file " + *out + ": " + written.Text());
    return 2;
  }
  Err(Format("tarnwick-cli: pack file written: %s\n", out->c_str()));
  return 0;
}

}  // namespace tarnwick::cli
