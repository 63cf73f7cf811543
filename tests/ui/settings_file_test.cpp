// The settings file: its place, its reads and writes, and the start-up repair
// of the mode settings.
#include "ui/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/fs/file_access.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::RunCommand;
using testing::TempDir;
using testing::WriteFile;

// A new file takes the system's line ending.
const std::string kNL = kNativeLineEnding;

std::string Inode(const std::string& path) {
  std::string out;
  return RunCommand("stat -c %i '" + path + "'", &out) == 0 ? out : std::string("?");
}

struct ReconcileCase {
  const char* name;
  std::optional<std::string> before;  // nothing: no settings file
  bool permitted;
  int mode;
  std::optional<std::string> after;  // nothing: the file is not written at all
};

const ReconcileCase kReconcileCases[] = {
    {"first_run", std::nullopt, false, kModeReader, "[Burn]" + kNL + "Mode=2" + kNL},
    {"forbidden_board_mode_forces_reader", "[Burn]\nCanUseBoardMode=0\nMode=1\n", false,
     kModeReader, "[Burn]\nCanUseBoardMode=0\nMode=2\n"},
    {"forbidden_by_text_value", "[Burn]\nCanUseBoardMode=yes\nMode=1\n", false, kModeReader,
     "[Burn]\nCanUseBoardMode=yes\nMode=2\n"},
    {"permission_5_repaired_mode_added", "[Burn]\nCanUseBoardMode=5\n", true, kModeReader,
     "[Burn]\nCanUseBoardMode=1\nMode=2\n"},
    {"permission_hex_repaired", "[Burn]\nCanUseBoardMode=0x10\nMode=1\n", true, kModeBoard,
     "[Burn]\nCanUseBoardMode=1\nMode=1\n"},
    {"permission_negative_repaired", "[Burn]\nCanUseBoardMode=-1\nMode=2\n", true, kModeReader,
     "[Burn]\nCanUseBoardMode=1\nMode=2\n"},
    {"board_mode_kept_untouched", "[Burn]\r\nCanUseBoardMode=1\r\nMode=1\r\n", true, kModeBoard,
     std::nullopt},
    {"reader_mode_kept_untouched", "[burn]\nCANUSEBOARDMODE = 1\nmode = 2 ; hand\n", true,
     kModeReader, std::nullopt},
    {"unknown_mode_repaired", "[Burn]\nCanUseBoardMode=1\nMode=7\n", true, kModeReader,
     "[Burn]\nCanUseBoardMode=1\nMode=2\n"},
    {"mode_zero_repaired", "[Burn]\nCanUseBoardMode=1\nMode=0\n", true, kModeReader,
     "[Burn]\nCanUseBoardMode=1\nMode=2\n"},
};

class Reconcile : public ::testing::TestWithParam<ReconcileCase> {};

TEST_P(Reconcile, ModeAndFileAsExpected) {
  const ReconcileCase& c = GetParam();
  TempDir dir;
  CSettingsFile settings(dir.path().string());
  if (c.before) WriteFile(settings.Path(), *c.before);
  std::string inodeBefore = c.before ? Inode(settings.Path()) : "";
  ModeSettings result = ReconcileModeSettings(settings);
  EXPECT_EQ(result.boardModePermitted, c.permitted);
  EXPECT_EQ(result.mode, c.mode);
  if (c.after) {
    EXPECT_EQ(ReadFileText(settings.Path()), *c.after);
  } else {
    EXPECT_EQ(ReadFileText(settings.Path()), *c.before);
    EXPECT_EQ(Inode(settings.Path()), inodeBefore) << "the file was rewritten";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Reconcile, ::testing::ValuesIn(kReconcileCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFile, ReconcileWithUnwritableFolderStillDecides) {
  CSettingsFile settings("/nonexistent-tarnwick-folder");
  ModeSettings result = ReconcileModeSettings(settings);
  EXPECT_FALSE(result.boardModePermitted);
  EXPECT_EQ(result.mode, kModeReader);
}

TEST(SettingsFile, PathIsFixedAtConstruction) {
  TempDir first;
  TempDir second;
  fs::path previous = fs::current_path();
  fs::current_path(first.path());
  const std::string expected = fs::current_path().string() + kPathSeparator + "Tarnwick.ini";
  CSettingsFile settings;
  fs::current_path(second.path());
  EXPECT_EQ(settings.Path(), expected);
  fs::current_path(previous);
  EXPECT_EQ(CSettingsFile("/work/x").Path(),
            "/work/x" + std::string(1, kPathSeparator) + "Tarnwick.ini");
  EXPECT_EQ(CSettingsFile("/").Path(), "/Tarnwick.ini");
#ifdef _WIN32
  // A drive root ends in its separator already.
  EXPECT_EQ(CSettingsFile("C:\\").Path(), "C:\\Tarnwick.ini");
  EXPECT_EQ(CSettingsFile("C:\\work").Path(), "C:\\work\\Tarnwick.ini");
#endif
}

struct IntCase {
  const char* stored;
  int expected;
};

TEST(SettingsFile, ReadIntConvertsAsSigned) {
  // The text itself is read as the profile functions read it (tested there).
  const IntCase cases[] = {{"2", 2}, {"-1", -1}, {"4294967295", -1}, {"2147483648", INT32_MIN}};
  TempDir dir;
  CSettingsFile settings(dir.path().string());
  for (const IntCase& c : cases) {
    WriteFile(settings.Path(), std::string("[Burn]\nBurnSystem=") + c.stored + "\n");
    EXPECT_EQ(settings.ReadInt("Burn", "BurnSystem"), c.expected) << c.stored;
  }
  EXPECT_EQ(settings.ReadInt("Burn", "Missing"), 0);
}

TEST(SettingsFile, WriteIntStoresDecimalAndReadsBack) {
  TempDir dir;
  CSettingsFile settings(dir.path().string());
  for (int value : {0, 1, -5, INT32_MAX, INT32_MIN}) {
    ASSERT_TRUE(settings.WriteInt("Burn", "Mode", value));
    EXPECT_EQ(settings.ReadInt("Burn", "Mode"), value);
    EXPECT_EQ(ReadFileText(settings.Path()),
              "[Burn]" + kNL + "Mode=" + std::to_string(value) + kNL);
  }
}

TEST(SettingsFile, ReadStringKeepsAtMost49Characters) {
  TempDir dir;
  CSettingsFile settings(dir.path().string());
  const std::string sixty = std::string(56, 'c') + ".ini";
  ASSERT_TRUE(settings.WriteString("ResName", "CfgFile", sixty));
  EXPECT_EQ(settings.ReadString("ResName", "CfgFile"), sixty.substr(0, 49));
  EXPECT_EQ(settings.ReadString("ResName", "PackFile"), "");
  ASSERT_TRUE(settings.WriteString("ResName", "PackFile", "board.pack"));
  EXPECT_EQ(settings.ReadString("ResName", "PackFile"), "board.pack");
}

// A settings file that exists but cannot be read is named with what it is;
// a missing or readable one has nothing to say. A link is read, never written.
TEST(SettingsFile, ReadProblemAndWriteRefusal) {
#ifdef _WIN32
  GTEST_SKIP() << "checks symbolic links and POSIX error texts";
#endif
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* problem;  // empty: none
    const char* refusal;  // empty: none
  };
  const Case cases[] = {
      {"missing", [](const std::string&) {}, "", ""},
      {"readable", [](const std::string& p) { WriteFile(p, "[Burn]\nMode=1\n"); }, "", ""},
      {"folder", [](const std::string& p) { fs::create_directory(p); }, "it is a folder", ""},
      {"fifo",
       [](const std::string& p) { ASSERT_EQ(RunCommand("mkfifo '" + p + "'", nullptr), 0); },
       "it is a FIFO", ""},
      {"link",
       [](const std::string& p) {
         WriteFile(p + ".real", "[Burn]\nMode=1\n");
         fs::create_symlink(fs::path(p).filename().string() + ".real", p);
       },
       "", "is a symbolic link"},
      {"dangling link", [](const std::string& p) { fs::create_symlink("nowhere.ini", p); }, "",
       "is a symbolic link"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    CSettingsFile settings(dir.path().string());
    c.make(settings.Path());
    const std::string problem = settings.ReadProblem();
    const std::string refusal = settings.WriteRefusal();
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << c.name << ": " << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name;
    if (!problem.empty()) {
      EXPECT_NE(problem.find(settings.Path()), std::string::npos) << c.name;
    }
    EXPECT_EQ(refusal.empty(), *c.refusal == '\0') << c.name << ": " << refusal;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.name;
    // Reads give the defaults, or the linked file's values.
    const bool values = std::string(c.name) == "link" || std::string(c.name) == "readable";
    EXPECT_EQ(settings.ReadInt("Burn", "Mode"), values ? 1 : 0) << c.name;
    if (!refusal.empty()) {
      EXPECT_FALSE(settings.WriteInt("Burn", "Mode", 2)) << c.name;
      EXPECT_TRUE(fs::is_symlink(settings.Path())) << c.name;
    }
  }
}

}  // namespace
}  // namespace tarnwick
