#include "cli/args.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "cli/console.h"
#include "platform/fs/file_access.h"

namespace tarnwick::cli {
namespace {

SysStatus BadArgument(std::string text) {
  return {std::make_error_code(std::errc::invalid_argument), std::move(text)};
}

}  // namespace

std::optional<std::string> ParsedArgs::Value(const std::string& option) const {
  auto it = values.find(option);
  if (it == values.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

SysStatus ParseArgs(int argc, char** argv, const ArgSpec& options, ParsedArgs& out) {
  auto isValueOption = [&](const std::string& name) {
    return std::find(options.valueOptions.begin(), options.valueOptions.end(), name) !=
           options.valueOptions.end();
  };
  auto isFlag = [&](const std::string& name) {
    return std::find(options.flagOptions.begin(), options.flagOptions.end(), name) !=
           options.flagOptions.end();
  };
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      out.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      out.flags.insert("--help");
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    if (isFlag(name)) {
      if (inlineValue) {
        return BadArgument("option " + name + " takes no value");
      }
      out.flags.insert(name);
    } else if (isValueOption(name)) {
      if (!inlineValue) {
        if (i + 1 >= argc) {
          return BadArgument("option " + name + " needs a value");
        }
        inlineValue = argv[++i];
      }
      out.values[name].push_back(*inlineValue);
    } else {
      return BadArgument("unknown option " + name);
    }
  }
  return SysStatus::Ok();
}

bool ParseSize(const std::string& text, uint64_t& bytes) {
  if (text.empty()) return false;
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return false;
  unsigned shift = 0;
  std::string suffix = text.substr(digits);
  if (suffix.size() > 1) return false;
  if (suffix.size() == 1) {
    switch (suffix[0]) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      case 'T':
      case 't':
        shift = 40;
        break;
      default:
        return false;
    }
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (kMax - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value == 0 || value > (kMax >> shift)) return false;
  bytes = value << shift;
  return true;
}

void PrintError(const std::string& text) {
  Err(Format("tarnwick-cli: %s\n", text.c_str()));
}

int StartCommand(int argc, char** argv, const ArgSpec& options, const char* usage,
                 ParsedArgs& args) {
  if (const SysStatus parsed = ParseArgs(argc, argv, options, args); !parsed) {
    PrintError(parsed.Text());
    Err(usage);
    return 2;
  }
  if (args.Has("--help")) {
    Out(usage);
    return 0;
  }
  if (!args.positional.empty()) {
    PrintError("unexpected argument " + args.positional.front());
    return 2;
  }
  return -1;
}

SysStatus CheckInputFile(const std::string& option, const std::string& label,
                         const std::string& path) {
  if (path.empty()) return BadArgument(option + " '' names no file");
  const PathKind kind = KindOfPath(path);
  if (kind == PathKind::RegularFile) return SysStatus::Ok();
  if (kind == PathKind::Missing) {
    return SysStatus(std::make_error_code(std::errc::no_such_file_or_directory),
                     label + " not found: " + path);
  }
  return BadArgument("the " + label + " " + path + " is " + PathKindName(kind) + ", not a file");
}

SysStatus CheckOutputFile(const std::string& option, const std::string& label,
                          const std::string& path) {
  if (path.empty()) return BadArgument(option + " '' names no file");
  const PathKind kind = KindOfPath(path);
  if (kind == PathKind::RegularFile || kind == PathKind::Missing) return SysStatus::Ok();
  return BadArgument("the " + label + " " + path + " is " + PathKindName(kind) + ", not a file");
}

SysStatus CheckCardSize(const std::string& text, uint64_t bytes) {
  if (bytes < kCylinderBytes) {
    return BadArgument("--size " + text + " is less than one cylinder (" +
                       std::to_string(kCylinderBytes) + " bytes): too small for a card");
  }
  // A card's sector numbers are 32-bit.
  if (const uint64_t sectors = bytes / kCylinderBytes * (kCylinderBytes / 512);
      sectors > kMaxCardSectors) {
    return BadArgument("--size " + text + " makes a card of " + std::to_string(sectors) +
                       " sectors: more than 2^32 sectors (2 TiB), beyond the card's 32-bit "
                       "sector numbers");
  }
  return SysStatus::Ok();
}

SysResult<InputFiles> ResolveInputFiles(const ParsedArgs& args, const std::string& command) {
  auto cfg = args.Value("--config");
  auto pack = args.Value("--pack");
  if (!cfg || !pack) return BadArgument(command + " needs --config FILE and --pack FILE");
  if (SysStatus bad = CheckInputFile("--config", "configuration file", *cfg); !bad) return bad;
  if (SysStatus bad = CheckInputFile("--pack", "pack file", *pack); !bad) return bad;
  return InputFiles{std::filesystem::absolute(*cfg).string(),
                    std::filesystem::absolute(*pack).string()};
}

}  // namespace tarnwick::cli
