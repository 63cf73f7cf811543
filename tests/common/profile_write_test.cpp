// Writes through the profile service: what the file holds afterwards, and how
// the file itself is replaced (hard links, encodings, refusals). The POSIX
// side (symbolic links, mode, owner, closed folders, FIFOs) is in
// profile_posix_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/profile.h"
#include "platform/fs/file_access.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::RunCommand;
using testing::TempDir;
using testing::Utf16Be;
using testing::Utf16Le;
using testing::WriteFile;

struct WriteCase {
  const char* name;
  bool fileExists;
  std::string before;
  std::string section;
  std::string key;
  std::string value;
  std::string after;
  std::optional<std::string> readsAs = std::nullopt;  // when not the value written
};

// A new file takes the system's line ending (CRLF on Windows, LF elsewhere).
const std::string kNL = kNativeLineEnding;

const WriteCase kWriteCases[] = {
    {"new_file", false, "", "Burn", "Mode", "2", "[Burn]" + kNL + "Mode=2" + kNL},
    {"empty_file", true, "", "a", "k", "9", "[a]" + kNL + "k=9" + kNL},
    {"replace_keeps_comments_and_crlf", true,
     "; top\r\n[Burn]\r\n; note\r\nMode = 1 ; old\r\nOther=x\r\n", "Burn", "Mode", "2",
     "; top\r\n[Burn]\r\n; note\r\nMode=2\r\nOther=x\r\n"},
    {"replace_keeps_indent_and_name_case", true, "[BURN]\n  MODE\t= 1\n", "burn", "mode", "2",
     "[BURN]\n  MODE=2\n"},
    {"replace_first_duplicate_only", true, "[a]\nk=1\nk=2\n", "a", "k", "9", "[a]\nk=9\nk=2\n"},
    {"add_to_first_of_duplicate_sections", true, "[a]\nx=1\n[b]\n[a]\nk=2\n", "a", "k", "9",
     "[a]\nx=1\nk=9\n[b]\n[a]\nk=2\n"},
    {"add_after_last_key_before_blank_and_comment", true, "[a]\nx=1\n\n; next\n[b]\ny=2\n", "a",
     "k", "9", "[a]\nx=1\nk=9\n\n; next\n[b]\ny=2\n"},
    {"add_to_section_without_keys", true, "[a]\n[b]\n", "a", "k", "9", "[a]\nk=9\n[b]\n"},
    {"add_to_last_line_without_newline", true, "[a]\r\nx=1", "a", "k", "9",
     "[a]\r\nx=1\r\nk=9\r\n"},
    {"new_section_at_end_crlf", true, "[a]\r\nx=1\r\n", "b", "k", "9",
     "[a]\r\nx=1\r\n[b]\r\nk=9\r\n"},
    {"new_section_cr_only", true, "[a]\rx=1\r", "b", "k", "9", "[a]\rx=1\r[b]\rk=9\r"},
    {"new_section_after_blank_line", true, "[a]\nx=1\n\n", "b", "k", "9", "[a]\nx=1\n\n[b]\nk=9\n"},
    {"new_section_after_comment_without_newline", true, "; c", "a", "k", "9",
     "; c" + kNL + "[a]" + kNL + "k=9" + kNL},
    {"value_leading_blanks_dropped", true, "[a]\n", "a", "k", " \t x  ", "[a]\nk=x  \n", "x"},
    {"line_without_equals_gets_the_value", true, "[a]\nk\nk=1\n", "a", "k", "9", "[a]\nk=9\nk=1\n"},
    {"comment_line_is_not_where_keys_go", true, "[a]\nx=1\n;k=0\n", "a", "k", "9",
     "[a]\nx=1\nk=9\n;k=0\n"},
    {"header_name_runs_to_last_bracket", true, "[a]x]\nk=1\n", "a", "k", "9",
     "[a]x]\nk=1\n[a]\nk=9\n"},
    {"mixed_endings_untouched_lines_kept", true, "[a]\r\nx=1\ny=2\r", "a", "y", "3",
     "[a]\r\nx=1\ny=3\r"},
    {"unnamed_section", true, "x=1\n[a]\n", "", "k", "9", "x=1\nk=9\n[a]\n"},
    {"utf8_bom_kept", true, "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "\xE5\x8D\xA1",
     "\xEF\xBB\xBF[a]\r\nk=\xE5\x8D\xA1\r\n"},
    {"utf16le_kept", true, Utf16Le("[a]\r\nk=1\r\n"), "a", "k", "2", Utf16Le("[a]\r\nk=2\r\n")},
    {"utf16be_kept", true, Utf16Be("[a]\r\nk=1\r\n"), "a", "k", "2", Utf16Be("[a]\r\nk=2\r\n")},
    {"utf16le_non_ascii_value", true, Utf16Le("[a]\r\n"), "a", "k", "\xE5\x8D\xA1",
     Utf16Le("[a]\r\nk=") + "\x61\x53" + std::string("\r\0\n\0", 4)},
};

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, FileHoldsExpectedBytesAndReadsBack) {
  const WriteCase& c = GetParam();
  TempDir dir;
  std::string path = dir.File("settings.ini");
  if (c.fileExists) WriteFile(path, c.before);
  ASSERT_TRUE(profile::WriteString(c.section, c.key, c.value, path));
  EXPECT_EQ(ReadFileText(path), c.after);
  EXPECT_EQ(profile::ReadString(c.section, c.key, "dflt", 50, path), c.readsAs.value_or(c.value));
  // Only the file itself is in the folder: no temporary file stays behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  std::string section;
  std::string key;
  std::string value;
};

const RefusedCase kRefusedCases[] = {
    {"newline_in_value", "a", "k", "1\n[evil]"},
    {"cr_in_value", "a", "k", "1\rx=2"},
    {"nul_in_value", "a", "k", std::string("1\0x", 3)},
    {"equals_in_key", "a", "k=x", "1"},
    {"empty_key", "a", "  ", "1"},
    {"comment_key", "a", ";k", "1"},
    {"header_key", "a", "[k", "1"},
    {"bracket_in_section", "a]b", "k", "1"},
    {"newline_in_section", "a\nb", "k", "1"},
};

class ProfileWriteRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ProfileWriteRefused, FileUnchanged) {
  const RefusedCase& c = GetParam();
  TempDir dir;
  std::string path = dir.File("settings.ini");
  const std::string before = "[a]\nk=0\n";
  WriteFile(path, before);
  EXPECT_FALSE(profile::WriteString(c.section, c.key, c.value, path));
  EXPECT_EQ(ReadFileText(path), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWriteRefused, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWriteFile, HandEditBetweenCallsIsSeen) {
  TempDir dir;
  std::string path = dir.File("settings.ini");
  ASSERT_TRUE(profile::WriteString("Burn", "Mode", "1", path));
  EXPECT_EQ(profile::ReadInt("Burn", "Mode", 0, path), 1u);
  WriteFile(path, "[Burn]\nMode=2\nWarningBeforeBurn=1\n");
  EXPECT_EQ(profile::ReadInt("Burn", "Mode", 0, path), 2u);
  ASSERT_TRUE(profile::WriteString("Burn", "CanUseBoardMode", "1", path));
  EXPECT_EQ(ReadFileText(path), "[Burn]\nMode=2\nWarningBeforeBurn=1\nCanUseBoardMode=1\n");
}

TEST(ProfileWriteFile, HardLinkedFileIsRewrittenUnderBothNames) {
  TempDir dir;
  std::string path = dir.File("settings.ini");
  WriteFile(path, "[a]\nk=1\n");
  fs::create_hard_link(path, dir.path() / "other.ini");
  ASSERT_TRUE(profile::WriteString("a", "k", "22", path));
  EXPECT_EQ(ReadFileText(dir.File("other.ini")), "[a]\nk=22\n");
  ASSERT_TRUE(profile::WriteString("a", "k", "3", path));  // shorter: the tail is cut
  EXPECT_EQ(ReadFileText(dir.File("other.ini")), "[a]\nk=3\n");
}

TEST(ProfileWriteFile, ReadOnlyFileIsLeftAlone) {
  TempDir dir;
  std::string path = dir.File("settings.ini");
  WriteFile(path, "[a]\nk=1\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
  bool immutable = false;
  if (RunCommand("sh -c 'echo x >> \"" + path + "\"'", nullptr) == 0) {
    WriteFile(path, "[a]\nk=1\n");  // root writes read-only files: lock it harder
    immutable = RunCommand("chattr +i '" + path + "'", nullptr) == 0;
    if (!immutable) GTEST_SKIP() << "cannot make a file read-only here";
  }
  EXPECT_FALSE(profile::WriteString("a", "k", "2", path));
  if (immutable) RunCommand("chattr -i '" + path + "'", nullptr);
  EXPECT_EQ(ReadFileText(path), "[a]\nk=1\n");
}

TEST(ProfileWriteFile, FolderOrMissingFolderIsNotWritten) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder.ini");
  EXPECT_FALSE(profile::WriteString("a", "k", "1", dir.File("folder.ini")));
  EXPECT_FALSE(profile::WriteString("a", "k", "1", dir.File("missing/x.ini")));
}

}  // namespace
}  // namespace tarnwick
