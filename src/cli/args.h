#pragma once
// Command-line argument parsing shared by the subcommands: "--name value",
// "--name=value", flags, and positional arguments.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/sys_status.h"

namespace tarnwick::cli {

struct ArgSpec {
  std::vector<std::string> valueOptions;  // e.g. "--config"; may repeat
  std::vector<std::string> flagOptions;   // e.g. "--yes"
};

struct ParsedArgs {
  std::map<std::string, std::vector<std::string>> values;
  std::set<std::string> flags;
  std::vector<std::string> positional;

  bool Has(const std::string& option) const { return values.count(option) || flags.count(option); }
  // The last value given for an option, if any.
  std::optional<std::string> Value(const std::string& option) const;
};

// Parses argv[0..argc). "--help" and "-h" are always accepted as the flag
// "--help". Fails on an unknown option or a missing value.
SysStatus ParseArgs(int argc, char** argv, const ArgSpec& options, ParsedArgs& out);

// A byte count with an optional K, M, G or T suffix (powers of 1024, either
// case). False on anything else, on zero and on overflow.
[[nodiscard]] bool ParseSize(const std::string& text, uint64_t& bytes);

// Writes "tarnwick-cli: <text>" on standard error.
void PrintError(const std::string& text);

// The common start of a command: parses its arguments, answers --help and
// refuses positional arguments. Returns the exit status when the command ends
// here (0 after --help, 2 after an error), or -1 when it goes on.
[[nodiscard]] int StartCommand(int argc, char** argv, const ArgSpec& options, const char* usage,
                               ParsedArgs& args);

// Why path (given with option) cannot be read as the label's file ("pack
// file", ...): empty, missing, or a folder, FIFO or device, each said as
// it is. Success for a regular file. Nothing is opened: a FIFO would wait.
SysStatus CheckInputFile(const std::string& option, const std::string& label,
                         const std::string& path);

// Why path (given with option) cannot be made or replaced as the label's
// file: success when it is missing or a regular file.
SysStatus CheckOutputFile(const std::string& option, const std::string& label,
                          const std::string& path);

// A card is counted in whole cylinders of 255 x 63 sectors; a smaller image holds no card.
inline constexpr uint64_t kCylinderBytes = uint64_t{255} * 63 * 512;
// Sector numbers on the card are 32-bit.
inline constexpr uint64_t kMaxCardSectors = uint64_t{1} << 32;

// Why a card image of bytes (given as --size text) would hold no card that
// can be burned: less than one cylinder, or more than 2^32 sectors.
SysStatus CheckCardSize(const std::string& text, uint64_t bytes);

struct InputFiles {
  std::string cfgPath;
  std::string packPath;
};

// The --config and --pack files of a command that burns, checked to exist and
// made absolute.
SysResult<InputFiles> ResolveInputFiles(const ParsedArgs& args, const std::string& command);

}  // namespace tarnwick::cli
