// tarnwick-cli burn: burns card image files or block devices named with
// --target, or every card that discovery finds, with the engine the dialog uses.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "cli/args.h"
#include "cli/cli_operator.h"
#include "cli/commands.h"
#include "cli/run_report.h"
#include "common/debug_log.h"
#include "common/sector.h"
#include "engine/burn_engine.h"
#include "engine/burn_stages.h"
#include "platform/clock.h"
#include "platform/fs/file_access.h"
#include "platform/host.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: tarnwick-cli burn --config FILE --pack FILE [--target PATH]...\n"
    "                         [--size SIZE] [--yes] [--allow-fixed] [--parallel] [--verify]\n"
    "\n"
    "Lays out and writes every target: each --target is one card, in the order\n"
    "given (at most 13), either a card image file or a block device. A missing\n"
    "image file is created (sparse) with --size bytes (suffix K, M, G or T,\n"
    "powers of 1024); an existing one keeps its size. A block device must be a\n"
    "removable disk that is not a system disk; --allow-fixed lifts the removable\n"
    "rule (card adapters that report fixed media, loop devices), never the\n"
    "system-disk rule. Without --target, every card that discovery finds is burned\n"
    "('tarnwick-cli disks' lists them). --sys-root DIR (for tests) reads the disk\n"
    "tree (sys/block, proc) under DIR instead of /; discovered disks are then\n"
    "never written.\n"
    "--parallel writes every card at the same time, one writer per card (one line\n"
    "per card on a terminal). --verify reads each card back after it is flushed\n"
    "and fails it at the first sector that differs.\n"
    "\n"
    "Settings come from Tarnwick.ini in the working directory. When its\n"
    "\"WarningBeforeBurn\" is 1 the question is asked on the terminal; --yes\n"
    "answers it. \"ParallelBurn\"=1 and \"VerifyAfterBurn\"=1 act as --parallel\n"
    "and --verify.\n"
    "Exit status: 0 every card written, 1 a card failed, 2 bad arguments or\n"
    "inputs refused before writing, 3 no card found.\n";

struct Target {
  std::string path;
  bool create = false;  // a missing image file, made with --size
};

// The bytes each stage of one card writes, from the engine's state at the
// start of the card (pack header, plan and BootInfo already made for it).
StageBytes StageBytesOf(CBurnEngine& engine, ISettingsReader& settings) {
  const PackHeader& header = engine.HeaderCopy();
  const uint64_t loaderLen = header.Length(PackSlot::UBootBin);
  const uint64_t loaderRounded = (loaderLen + kSectorSize - 1) / kSectorSize * kSectorSize;
  const uint64_t fatSectors = Fat32FatSectors(engine.Plan().m_arrTotalSectors[0]);
  auto sectorsOf = [&](const BurnStageInfo& stage) -> uint64_t {
    switch (stage.stage) {
      case BurnStage::Mbr:
        return 1;
      case BurnStage::BootInfo:
        return kBootInfoCopies;
      case BurnStage::UBootBin:
        return ImageStoreNum(engine.BootInfoRecord()) * loaderRounded / kSectorSize;
      case BurnStage::UBootInfo:
        return kUBootInfoSectors;
      case BurnStage::Ebrs:
        return engine.Plan().m_arrEpTotalSector.size();
      case BurnStage::Misc:
        return kMiscSectors;
      case BurnStage::BootEnv:
        return kBootEnvSectors;
      // Both FATs and the sectors around them, as the progress has always counted them.
      case BurnStage::Fat32:
        return 2 * fatSectors + 16;
      default:
        if (settings.ReadInt("Burn", stage.settingsKey) == 2) return 0;
        return ImageSectorCount(header.Length(*stage.image));
    }
  };
  StageBytes bytes{};
  for (const BurnStageInfo& stage : kBurnStages)
    bytes[stage.progress] = sectorsOf(stage) * kSectorSize;
  return bytes;
}

// Creates a sparse card image of the given size.
SysStatus CreateImage(const std::string& path, uint64_t size) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return {std::make_error_code(std::errc::io_error), "cannot create " + path};
  }
  std::error_code ec;
  fs::resize_file(path, size, ec);
  if (ec) {
    SysStatus failure(ec, "cannot size " + path + ": " + ec.message());
    fs::remove(path, ec);
    return failure;
  }
  return SysStatus::Ok();
}

// Removes the card images this run made that were never opened for writing.
void RemoveUnwritten(const std::vector<std::string>& created,
                     const std::vector<std::string>& opened) {
  for (const std::string& path : created) {
    if (std::find(opened.begin(), opened.end(), path) != opened.end()) continue;
    std::error_code ec;
    if (fs::remove(path, ec)) PrintError("removed " + path + ": made for this run, never written");
  }
}

int Refuse(const std::string& text) {
  PrintError(text);
  return 2;
}

}  // namespace

int CmdBurn(int argc, char** argv) {
  ParsedArgs args;
  ArgSpec options{{"--config", "--pack", "--target", "--size", "--sys-root"},
                  {"--yes", "--allow-fixed", "--parallel", "--verify"}};
  if (int status = StartCommand(argc, argv, options, kUsage, args); status >= 0) return status;
  SysResult<InputFiles> inputs = ResolveInputFiles(args, "burn");
  if (!inputs) return Refuse(inputs.Status().Text());
  const std::string cfgPath = inputs.Value().cfgPath;
  const std::string packPath = inputs.Value().packPath;

  uint64_t size = 0;
  if (auto text = args.Value("--size"); text && !ParseSize(*text, size)) {
    return Refuse("bad --size '" + *text + "': a byte count with an optional K, M, G or T suffix");
  }
  if (size != 0) {
    if (SysStatus bad = CheckCardSize(*args.Value("--size"), size); !bad) return Refuse(bad.Text());
  }

  CSettingsFile settings;
  WarnUnreadableSettings(settings);
  HostOptions hostOptions;
  const std::vector<ProtectedPath> protectedPaths = {
      {"pack file", packPath}, {"configuration file", cfgPath}, {"settings file", settings.Path()}};
  hostOptions.protectedPaths = [protectedPaths] { return protectedPaths; };

  std::vector<Target> targets;
  auto targetArgs =
      args.values.count("--target") ? args.values.at("--target") : std::vector<std::string>{};
  if (targetArgs.size() > kMaxDiskSlots) {
    return Refuse("at most " + std::to_string(kMaxDiskSlots) + " targets can be burned in one run");
  }
  bool testTree = args.Has("--sys-root");
  if (testTree) {
    if (!targetArgs.empty()) return Refuse("--sys-root only applies to discovery without --target");
    hostOptions.sysRoot = *args.Value("--sys-root");
  }
  std::unique_ptr<IHost> host;
  if (!targetArgs.empty()) {
    std::vector<std::string> paths;
    std::set<std::string> seen;
    for (const auto& arg : targetArgs) {
      if (arg.empty()) return Refuse("--target '' names no card");
      // One of the run's own files as a card would be overwritten by the burn.
      if (const std::optional<FileIdentity> id = IdentityOf(arg)) {
        for (const ProtectedPath& input : protectedPaths) {
          if (IdentityOf(input.path) == id) {
            return Refuse("target " + arg + " is the " + input.label + " " + input.path +
                          "; nothing was written");
          }
        }
      }
      std::error_code ec;
      bool exists = fs::exists(arg, ec);
      std::string key = exists ? fs::canonical(arg, ec).string() : fs::absolute(arg, ec).string();
      if (!seen.insert(key).second) return Refuse("target named twice: " + arg);
      Target t{arg, !exists};
      if (t.create) {
        if (size == 0)
          return Refuse("card image " + arg + " does not exist; give --size to create it");
        if (arg.back() == '/') return Refuse("--target " + arg + " names a folder, not a card");
        fs::path parent = fs::absolute(arg, ec).parent_path();
        if (!fs::is_directory(parent, ec)) {
          return Refuse("no such folder " + parent.string() + " for the card image " + arg);
        }
      } else if (fs::is_regular_file(arg, ec) && fs::file_size(arg, ec) < kCylinderBytes) {
        return Refuse("card image " + arg + " is smaller than one cylinder (" +
                      std::to_string(kCylinderBytes) + " bytes): too small for a card");
      }
      targets.push_back(t);
      paths.push_back(arg);
    }
    hostOptions.targets = paths;
    hostOptions.allowFixed = args.Has("--allow-fixed");
    host = MakeHost(std::move(hostOptions));
    for (const Target& t : targets) {
      if (t.create) continue;
      if (SysStatus refusal = host->CheckTarget(t.path); !refusal) return Refuse(refusal.Text());
    }
  } else {
    if (args.Has("--size")) return Refuse("--size only applies to --target image files");
    host = MakeHost(std::move(hostOptions));
  }

  CliOperatorOptions opOptions;
  opOptions.assumeYes = args.Has("--yes");
  opOptions.canAsk = IsTerminal(StdStream::Input) && IsTerminal(StdStream::Error);
  opOptions.showProgress = IsTerminal(StdStream::Error);
  opOptions.columns = opOptions.showProgress ? TerminalColumns() : 80;
  opOptions.cardLines = args.Has("--parallel") || settings.ReadInt("Burn", "ParallelBurn") == 1;
  CCliOperator op(SystemClock(), opOptions);

  if (settings.ReadInt("Burn", "WarningBeforeBurn") == 1) {
    if (!opOptions.assumeYes && !opOptions.canAsk) {
      return Refuse("\"WarningBeforeBurn\" is 1 in " + settings.Path() +
                    ": the burn must be confirmed, but there is no terminal to ask on; "
                    "pass --yes to confirm. Nothing was written.");
    }
    if (op.ShowMessage(kWarningBeforeBurnText, MsgButtons::OkCancel) != MsgAnswer::Ok) {
      return Refuse("burn cancelled; nothing was written");
    }
  }

  std::vector<std::string> created;
  for (const Target& t : targets) {
    if (!t.create) continue;
    if (SysStatus made = CreateImage(t.path, size); !made) {
      RemoveUnwritten(created, {});
      return Refuse(made.Text());
    }
    created.push_back(t.path);
  }

  CBurnEngine engine(host->Disks(), op, settings);
  engine.SetCfgFile(cfgPath);
  engine.SetPackFile(packPath);
  engine.SetVerify(args.Has("--verify"));
  engine.SetParallel(args.Has("--parallel"));
  int cardNumber = 0;
  op.SetCardInfoSource([&] {
    CCliOperator::CardInfo info;
    info.card = ++cardNumber;
    info.cards = static_cast<int>(std::count_if(engine.Cards().begin(), engine.Cards().end(),
                                                [](const CardSlot& s) { return s.present != 0; }));
    info.stageBytes = StageBytesOf(engine, settings);
    return info;
  });
  LogSink previousSink;
  if (opOptions.showProgress) {
    previousSink = SetLogSink([&op](std::string_view line) { op.PrintLogLine(line); });
  }
  engine.RunBurn();
  if (opOptions.showProgress) SetLogSink(previousSink);
  op.FinishProgress();

  // An image made for this run whose card was never opened holds nothing.
  RemoveUnwritten(created, engine.LastRun().opened);
  return BurnExitStatus(engine.LastRun());
}

}  // namespace tarnwick::cli
