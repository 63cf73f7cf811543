// tarnwick-cli download: board mode. Sends the download program to every
// board found and, with --wait, waits for the board to present its card and
// then burns as the dialog does.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/args.h"
#include "cli/cli_operator.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/run_report.h"
#include "engine/burn_engine.h"
#include "platform/clock.h"
#include "platform/fs/file_access.h"
#include "platform/host.h"
#include "ui/settings_file.h"
#include "usbdev/board_flow.h"
#include "usbdev/dfu_downloader.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: tarnwick-cli download --config FILE --pack FILE [--wait] [--timeout SECONDS]\n"
    "                             [--simulate-board DIR] [--size SIZE] [--yes]\n"
    "\n"
    "Board mode: wraps the pack file's download program behind a boot record built\n"
    "from section \"DfuAddrInfo\" of the configuration and sends it to every board\n"
    "found (SCSI disks that identify as the board; needs access to /dev/sg*).\n"
    "With --wait it then waits for a device to arrive (the board presenting its\n"
    "card) and burns every card that discovery finds, as the dialog does;\n"
    "--timeout ends the wait after SECONDS (default: no limit).\n"
    "\n"
    "--simulate-board DIR uses a simulated board instead of the host's devices: it\n"
    "keeps the package it received as DIR/received.bin and presents its card as\n"
    "DIR/card.img, a sparse image of --size bytes (default 4G; suffix K, M, G or T).\n"
    "Discovery then sees that card only, never a disk of this machine.\n"
    "\n"
    "Settings come from Tarnwick.ini in the working directory; when its\n"
    "\"WarningBeforeBurn\" is 1 the question is asked on the terminal; --yes answers it.\n"
    "Exit status: 0 every board served (and with --wait every card written),\n"
    "1 a board or a card failed, 2 bad arguments or a pack refused before sending,\n"
    "3 no board found (without --wait) or no card found.\n";

int Refuse(const std::string& text) {
  PrintError(text);
  return 2;
}

bool ParseSeconds(const std::string& text, std::chrono::seconds& seconds) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  seconds = std::chrono::seconds(std::stol(text));
  return seconds.count() > 0;
}

// How many boards took the program, and a warning for each board that
// answered blocks with a SCSI status other than GOOD.
void PrintBoardsServed(const DownloadSummary& summary) {
  if (summary.boardsFound == 0) return;
  Err(Format("tarnwick-cli: %d of %d board(s) received the download program\n",
             summary.boardsServed, summary.boardsFound));
  for (size_t i = 0; i < summary.blocksNotGood.size(); ++i) {
    if (summary.blocksNotGood[i] == 0) continue;
    Err(
        Format("tarnwick-cli: warning: board %zu answered %d block(s) with a SCSI status other "
               "than GOOD (see the debug log)\n",
               i + 1, summary.blocksNotGood[i]));
  }
}

int DownloadExitStatus(const DownloadSummary& summary) {
  if (summary.boardsFound == 0) return 3;
  PrintBoardsServed(summary);
  return summary.boardsServed == summary.boardsFound ? 0 : 1;
}

}  // namespace

int CmdDownload(int argc, char** argv) {
  ParsedArgs args;
  ArgSpec options{{"--config", "--pack", "--timeout", "--simulate-board", "--size"},
                  {"--wait", "--yes"}};
  if (int status = StartCommand(argc, argv, options, kUsage, args); status >= 0) return status;
  SysResult<InputFiles> inputs = ResolveInputFiles(args, "download");
  if (!inputs) return Refuse(inputs.Status().Text());
  const std::string cfgPath = inputs.Value().cfgPath;
  const std::string packPath = inputs.Value().packPath;

  std::optional<std::chrono::seconds> timeout;
  if (auto text = args.Value("--timeout")) {
    std::chrono::seconds seconds{};
    if (!ParseSeconds(*text, seconds)) {
      return Refuse("bad --timeout '" + *text + "': whole seconds from 1 to 999999999");
    }
    if (!args.Has("--wait")) return Refuse("--timeout only applies with --wait");
    timeout = seconds;
  }
  auto simDir = args.Value("--simulate-board");
  uint64_t cardBytes = kDefaultSimulatedCardBytes;
  if (auto text = args.Value("--size")) {
    if (!simDir) return Refuse("--size only applies with --simulate-board");
    if (!ParseSize(*text, cardBytes)) {
      return Refuse("bad --size '" + *text +
                    "': a byte count with an optional K, M, G or T suffix");
    }
    if (SysStatus bad = CheckCardSize(*text, cardBytes); !bad) return Refuse(bad.Text());
  }

  CSettingsFile settings;
  WarnUnreadableSettings(settings);
  HostOptions hostOptions;
  // Never written, be the card the host's or the simulated board's image.
  const std::vector<ProtectedPath> protectedPaths = {
      {"pack file", packPath}, {"configuration file", cfgPath}, {"settings file", settings.Path()}};
  hostOptions.protectedPaths = [protectedPaths] { return protectedPaths; };
  if (simDir) {
    if (simDir->empty()) return Refuse("--simulate-board '' names no folder");
    std::error_code ec;
    fs::create_directories(*simDir, ec);
    if (const PathKind kind = KindOfPath(*simDir); kind != PathKind::Folder) {
      return Refuse("cannot use " + *simDir + " for the simulated board: " +
                    (kind == PathKind::Missing
                         ? "it cannot be made (" + ec.message() + ")"
                         : std::string("it is ") + PathKindName(kind) + ", not a folder"));
    }
    // The simulated board replaces its two files; neither may be one of ours.
    for (const char* name : {"card.img", "received.bin"}) {
      const std::string file = (fs::path(*simDir) / name).string();
      const std::optional<FileIdentity> id = IdentityOf(file);
      for (const ProtectedPath& input : protectedPaths) {
        if (id && IdentityOf(input.path) == id) {
          return Refuse("the simulated board's " + file + " is the " + input.label + " " +
                        input.path + "; nothing was sent");
        }
      }
    }
    hostOptions.simulateBoardDir = *simDir;
    hostOptions.simulatedCardBytes = cardBytes;
    hostOptions.onNoFreeSlot = [](const std::string& card) {
      PrintError("no free slot for the simulated card " + card);
    };
  } else {
    // Watching starts before the boards are searched, so a board that shows
    // its card quickly is not missed.
    hostOptions.watchArrivals = true;
  }
  std::unique_ptr<IHost> host = MakeHost(std::move(hostOptions));
  if (const SysStatus& watching = host->EventsStatus(); !watching && args.Has("--wait")) {
    return Refuse("cannot watch for device arrivals: " + watching.Text());
  }

  CliOperatorOptions opOptions;
  opOptions.assumeYes = args.Has("--yes");
  opOptions.canAsk = IsTerminal(StdStream::Input) && IsTerminal(StdStream::Error);
  CCliOperator op(SystemClock(), opOptions);
  if (settings.ReadInt("Burn", "WarningBeforeBurn") == 1) {
    if (!opOptions.assumeYes && !opOptions.canAsk) {
      return Refuse("\"WarningBeforeBurn\" is 1 in " + settings.Path() +
                    ": the burn must be confirmed, but there is no terminal to ask on; "
                    "pass --yes to confirm. Nothing was sent.");
    }
    if (op.ShowMessage(kWarningBeforeBurnText, MsgButtons::OkCancel) != MsgAnswer::Ok) {
      return Refuse("download cancelled; nothing was sent");
    }
  }

  CBurnEngine engine(host->Disks(), op, settings);
  engine.SetCfgFile(cfgPath);
  engine.SetPackFile(packPath);
  CDfuDownloader downloader(host->Bus(), op);
  CBoardFlow flow(engine, downloader, host->Events());

  flow.OnBurnBoardMode();
  const DownloadSummary& summary = downloader.LastDownload();
  if (!summary.packLoaded) return Refuse("the pack file was refused; nothing was sent");
  if (!args.Has("--wait")) return DownloadExitStatus(summary);
  PrintBoardsServed(summary);

  if (timeout) {
    Err(Format("tarnwick-cli: waiting up to %lld s for the board's card\n",
               static_cast<long long>(timeout->count())));
  } else {
    Err("tarnwick-cli: waiting for the board's card (Ctrl-C stops)\n");
  }
  if (!flow.WaitForArrival(SystemClock(), timeout)) {
    PrintError("no device arrived within the time-out; nothing was burned");
    return 3;
  }
  return BurnExitStatus(engine.LastRun());
}

}  // namespace tarnwick::cli
