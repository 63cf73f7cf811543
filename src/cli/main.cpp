// tarnwick-cli: the command line. Dispatches on the subcommand.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "common/debug_log.h"
#include "platform/host.h"
#include "tarnwick_version.h"

namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli COMMAND [OPTIONS]\n"
    "\n"
    "Prepares the boot SD card of the board: lays the card out from scratch and\n"
    "writes MBR, boot records, boot loader copies, boot images, the System, Data\n"
    "and Cache partitions and a FAT32 first partition.\n"
    "\n"
    "Commands:\n"
    "  burn --config FILE --pack FILE [--target PATH]... [--size SIZE] [--yes]\n"
    "       [--allow-fixed]\n"
    "                 burns every target (card image files or block devices), or\n"
    "                 without --target every card that discovery finds\n"
    "  inspect PATH [--config FILE]\n"
    "                 decodes and checks a burned card or card image\n"
    "  mkpack --out FILE [--dfu F] [--uboot F] [--bootimg F] [--bootrecover F]\n"
    "         [--system F] [--data F] [--cache F] [--bootres F]\n"
    "                 builds a pack file from image files\n"
    "  disks          lists the disks discovery would burn, and why others are left out\n"
    "  download       board mode: sends the download program to the board\n"
    "\n"
    "'tarnwick-cli COMMAND --help' describes a command. The debug log goes to\n"
    "standard output; messages, questions and progress go to standard error.\n"
    "Exit status: 0 success, 1 a card failed, 2 bad arguments or inputs refused\n"
    "before writing, 3 no card found.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"burn", tarnwick::cli::CmdBurn},         {"inspect", tarnwick::cli::CmdInspect},
    {"mkpack", tarnwick::cli::CmdMkpack},     {"disks", tarnwick::cli::CmdDisks},
    {"download", tarnwick::cli::CmdDownload},
};

}  // namespace

int main(int argc, char** rawArgv) {
  // Arguments as UTF-8 on every system; the commands take them as argv.
  std::vector<std::string> arguments = tarnwick::CommandLineArguments(argc, rawArgv);
  std::vector<char*> argvUtf8;
  for (std::string& a : arguments) argvUtf8.push_back(a.data());
  argvUtf8.push_back(nullptr);
  char** argv = argvUtf8.data();
  using tarnwick::cli::Err;
  using tarnwick::cli::Format;
  using tarnwick::cli::Out;
  // The debug log goes to standard output through the same path as every
  // other text.
  tarnwick::SetLogSink(
      [](std::string_view line) { tarnwick::WriteText(tarnwick::StdStream::Output, line); });
  if (argc < 2) {
    Err(kUsage);
    return 2;
  }
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    Out(kUsage);
    return 0;
  }
  if (command == "--version") {
    Out(Format("tarnwick-cli %s\n", tarnwick::kTarnwickVersion));
    return 0;
  }
  for (const auto& c : kCommands) {
    if (command != c.name) continue;
    try {
      return c.run(argc - 2, argv + 2);
    } catch (const std::bad_alloc&) {
      tarnwick::cli::PrintError("out of memory");
    } catch (const std::exception& e) {
      tarnwick::cli::PrintError(e.what());
    }
    return 1;
  }
  tarnwick::cli::PrintError("unknown command '" + command + "'");
  Err(kUsage);
  return 2;
}
