// tarnwick-cli burn: burns card image files or block devices named with
// --target, or every card that discovery finds, with the engine the dialog uses.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "cli/args.h"
#include "cli/burn_watch.h"
#include "cli/card_lines.h"
#include "cli/cli_operator.h"
#include "cli/commands.h"
#include "cli/log_route.h"
#include "cli/pack_check.h"
#include "cli/run_output.h"
#include "cli/run_report.h"
#include "common/debug_log.h"
#include "common/sector.h"
#include "engine/burn_engine.h"
#include "engine/burn_stages.h"
#include "platform/clock.h"
#include "platform/fs/file_access.h"
#include "platform/host.h"
#include "platform/interrupt.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: tarnwick-cli burn --config FILE --pack FILE [--target PATH]...\n"
    "                         [--size SIZE] [--yes] [--allow-fixed] [--parallel] [--verify]\n"
    "                         [--watch]\n"
    "                         [--log FILE] [--verbose] [--card-images PATH[:PATH...]]\n"
    "                         [--report FILE] [--audit FILE]\n"
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
    "answers it; the question lists the cards that will be erased.\n"
    "\"ParallelBurn\"=1 and \"VerifyAfterBurn\"=1 act as --parallel and --verify.\n"
    "\n"
    "Output: the debug log goes to standard output when that is not a terminal\n"
    "(as always). On a terminal it is left out unless --verbose is given; --log\n"
    "FILE appends it to FILE in either case. Standard error shows the progress\n"
    "(a progress line on a terminal, else one line per stage and card), one\n"
    "result line per card and the summary.\n"
    "\n"
    "--report FILE writes a JSON document of the run (each card's device,\n"
    "identity, size, result, bytes, time, speed and verification; the inputs'\n"
    "paths and SHA-256); in watch mode it holds the last run. --audit FILE (or\n"
    "\"AuditLog\" in section \"Burn\" of the settings) appends one JSON line per\n"
    "card; an audit line that cannot be written is a warning and never fails a\n"
    "card.\n"
    "\n"
    "--watch keeps running: each card inserted is burned as it arrives (a card\n"
    "taken out and inserted again is burned again; cards already inserted are\n"
    "burned at the start), with one result line and the running counts after\n"
    "each card, and a bell, until Ctrl-C. --card-images (for tests and trying\n"
    "the tool) makes the card image files named (separated by the system's path\n"
    "list separator) the disk table: a missing file is an empty reader.\n"
    "Ctrl-C while a card is written stops after the current write: the card is\n"
    "flushed and reported as interrupted and incomplete.\n"
    "\n"
    "Exit status: 0 every card written, 1 a card failed (a card refused by the\n"
    "checks, too small or with an image larger than its room, counts as failed:\n"
    "the message states the size it would need), 2 bad arguments or inputs\n"
    "refused before writing (a pack file that is not a pack among them), 3 no\n"
    "card found, 130 stopped by Ctrl-C.\n";

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
  ArgSpec options{{"--config", "--pack", "--target", "--size", "--sys-root", "--log",
                   "--card-images", kReportOption, kAuditOption},
                  {"--yes", "--allow-fixed", "--watch", "--verbose", "--parallel", "--verify"}};
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
  if (SysStatus bad = CheckPackHeader(packPath, CardImagesBurned(settings)); !bad) {
    return Refuse(bad.Text() + "; nothing was written");
  }
  CRunOutput output(args, settings);
  if (SysStatus bad = output.Check(); !bad) return Refuse(bad.Text());
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
  // Watch mode waits for the host's arrival notices.
  hostOptions.watchArrivals = args.Has("--watch");
  std::unique_ptr<IHost> host;
  if (auto images = args.Value("--card-images")) {
    if (!targetArgs.empty() || testTree) {
      return Refuse("--card-images replaces the disk table: not with --target or --sys-root");
    }
    hostOptions.cardImages = SplitPathList(*images);
    if (hostOptions.cardImages.empty() || hostOptions.cardImages.size() > kMaxDiskSlots) {
      return Refuse("--card-images names 1 to " + std::to_string(kMaxDiskSlots) + " card images");
    }
  }
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
      // A device node that is not there is a card that is not there, never a file to make.
      if (t.create && fs::absolute(arg, ec).lexically_normal().string().rfind("/dev/", 0) == 0) {
        return Refuse("no such device: " + arg + "; nothing was written");
      }
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
      } else if (const uint64_t had = fs::is_regular_file(arg, ec) ? fs::file_size(arg, ec) : 0;
                 size != 0 && had != 0 && had != size) {
        PrintError("warning: card image " + arg + " exists with " + std::to_string(had) +
                   " bytes; it keeps its size, --size " + *args.Value("--size") +
                   " applies to new images only");
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
  opOptions.plainProgress = !opOptions.showProgress;
  opOptions.columns = opOptions.showProgress ? TerminalColumns() : 80;
  opOptions.cardLines = args.Has("--parallel") || settings.ReadInt("Burn", "ParallelBurn") == 1;
  CCliOperator op(SystemClock(), opOptions);
  // Ctrl-C ends a write cleanly from here on (see CInterruptibleDisks).
  CInterruptibleDisks disks(output.Disks(host->Disks()), [] { return InterruptRequested(); });

  if (settings.ReadInt("Burn", "WarningBeforeBurn") == 1) {
    if (!opOptions.assumeYes && !opOptions.canAsk) {
      return Refuse("\"WarningBeforeBurn\" is 1 in " + settings.Path() +
                    ": the burn must be confirmed, but there is no terminal to ask on; "
                    "pass --yes to confirm. Nothing was written.");
    }
    std::vector<CardDescription> erased = SurveyCards(disks);
    for (const Target& t : targets) {
      if (t.create) erased.push_back({t.path + " (new card image)", size, {}});
    }
    if (op.ShowMessage(WarningWithCards(kWarningBeforeBurnText, erased), MsgButtons::OkCancel) !=
        MsgAnswer::Ok) {
      return Refuse("burn cancelled; nothing was written");
    }
  }
  LogRouteOptions logOptions{IsTerminal(StdStream::Output), args.Has("--verbose"),
                             args.Value("--log").value_or(""), protectedPaths};
  for (const Target& t : targets) logOptions.keepOut.push_back({"card", t.path});
  SysResult<std::unique_ptr<CLogRoute>> logRoute =
      CLogRoute::Open(logOptions, [&op](std::string_view line) { op.PrintLogLine(line); });
  if (!logRoute) return Refuse(logRoute.Status().Text());
  CatchInterrupt();

  std::vector<std::string> created;
  for (const Target& t : targets) {
    if (!t.create) continue;
    if (SysStatus made = CreateImage(t.path, size); !made) {
      RemoveUnwritten(created, {});
      return Refuse(made.Text());
    }
    created.push_back(t.path);
  }

  CBurnEngine engine(disks, output.Operator(op), settings);
  engine.SetCfgFile(cfgPath);
  engine.SetPackFile(packPath);
  output.Start(cfgPath, packPath);
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
  CCardResults results([&op](const std::string& line) { op.PrintLine(line); });
  op.SetCardUpdateHandler([&results](const CardStatus& status) { results.OnCardUpdate(status); });
  if (args.Has("--watch")) {
    // Image files and named targets give no notices: they are looked at
    // often. The host's disks are surveyed on each notice, or every second
    // when none can be had.
    const bool notices = !host->Simulated() && targets.empty() && host->EventsStatus().IsOk();
    const int interval = host->Simulated() || !targets.empty() ? 250 : 1000;
    // Each run of watch mode leaves its report and audit lines.
    WatchContext watch{*host,
                       disks,
                       engine,
                       op,
                       results,
                       !notices,
                       interval,
                       [&cardNumber, &output, &cfgPath, &packPath] {
                         cardNumber = 0;
                         output.Start(cfgPath, packPath);
                       },
                       [&output, &engine, &host] { (void)output.Finish(engine, *host); }};
    return RunWatch(watch);
  }
  results.StartRun(SurveyCards(disks));
  engine.RunBurn();
  op.FinishProgress();
  results.FinishRun(engine.LastRun(), InterruptRequested());

  // An image made for this run whose card was never opened holds nothing.
  RemoveUnwritten(created, engine.LastRun().opened);
  const bool recorded = output.Finish(engine, *host);
  if (InterruptRequested()) return kInterruptedExitStatus;
  const int status = BurnExitStatus(engine.LastRun());
  // The run did not leave the report it was asked for.
  return status == 0 && !recorded ? 1 : status;
}

}  // namespace tarnwick::cli
