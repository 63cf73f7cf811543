// Writes through the profile service: what the file holds afterwards, and how
// the file itself is replaced (links, mode, owner, encodings, refusals).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/profile.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::RunCommand;
using testing::TempDir;
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
};

const WriteCase kWriteCases[] = {
    {"new_file", false, "", "Burn", "Mode", "2", "[Burn]\nMode=2\n"},
    {"empty_file", true, "", "a", "k", "9", "[a]\nk=9\n"},
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
     "[a]\r\nx=1\r\n\r\n[b]\r\nk=9\r\n"},
    {"new_section_cr_only", true, "[a]\rx=1\r", "b", "k", "9", "[a]\rx=1\r\r[b]\rk=9\r"},
    {"new_section_after_blank_line", true, "[a]\nx=1\n\n", "b", "k", "9", "[a]\nx=1\n\n[b]\nk=9\n"},
    {"new_section_after_comment_without_newline", true, "; c", "a", "k", "9", "; c\n\n[a]\nk=9\n"},
    {"mixed_endings_untouched_lines_kept", true, "[a]\r\nx=1\ny=2\r", "a", "y", "3",
     "[a]\r\nx=1\ny=3\r"},
    {"unnamed_section", true, "x=1\n[a]\n", "", "k", "9", "x=1\nk=9\n[a]\n"},
    {"utf8_bom_kept", true, "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "\xE5\x8D\xA1",
     "\xEF\xBB\xBF[a]\r\nk=\xE5\x8D\xA1\r\n"},
    {"utf16le_kept", true, Utf16Le("[a]\r\nk=1\r\n"), "a", "k", "2", Utf16Le("[a]\r\nk=2\r\n")},
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
  EXPECT_EQ(profile::ReadString(c.section, c.key, "dflt", 50, path), c.value);
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

// A file that is a symbolic link is read but never written through: not its
// target, not a dangling link's target, not a loop.
TEST(ProfileWriteFile, LinksAreReadButNeverWrittenThrough) {
  TempDir dir;
  fs::create_directory(dir.path() / "real");
  WriteFile(dir.File("real/settings.ini"), "[a]\nk=1\n");
  fs::create_symlink("real/settings.ini", dir.path() / "link.ini");
  fs::create_symlink("made.ini", dir.path() / "dangling.ini");
  fs::create_symlink("b.ini", dir.path() / "a.ini");
  fs::create_symlink("a.ini", dir.path() / "b.ini");
  EXPECT_EQ(profile::ReadInt("a", "k", 0, dir.File("link.ini")), 1u);
  for (const char* link : {"link.ini", "dangling.ini", "a.ini"}) {
    EXPECT_FALSE(profile::WriteString("a", "k", "2", dir.File(link))) << link;
    EXPECT_TRUE(fs::is_symlink(dir.path() / link)) << link;
  }
  EXPECT_EQ(ReadFileText(dir.File("real/settings.ini")), "[a]\nk=1\n");
  EXPECT_FALSE(fs::exists(dir.path() / "made.ini"));
}

TEST(ProfileWriteFile, ModeAndOwnerAreKept) {
  TempDir dir;
  std::string path = dir.File("settings.ini");
  WriteFile(path, "[a]\nk=1\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, mode);
  ASSERT_TRUE(profile::WriteString("a", "k", "2", path));
  EXPECT_EQ(fs::status(path).permissions(), mode);
  if (RunCommand("chown 65534:65534 '" + path + "'", nullptr) != 0) {
    GTEST_SKIP() << "changing a file's owner needs root";
  }
  ASSERT_TRUE(profile::WriteString("a", "k", "3", path));
  std::string owner;
  ASSERT_EQ(RunCommand("stat -c %u:%g '" + path + "'", &owner), 0);
  EXPECT_EQ(owner, "65534:65534\n");
  EXPECT_EQ(ReadFileText(path), "[a]\nk=3\n");
}

TEST(ProfileWriteFile, NewFileBelongsToItsFolderOwner) {
  TempDir dir;
  fs::create_directory(dir.path() / "home");
  if (RunCommand("chown 65534:65534 '" + dir.File("home") + "'", nullptr) != 0) {
    GTEST_SKIP() << "changing a folder's owner needs root";
  }
  std::string path = dir.File("home/settings.ini");
  ASSERT_TRUE(profile::WriteString("a", "k", "1", path));
  std::string owner;
  ASSERT_EQ(RunCommand("stat -c %u:%g '" + path + "'", &owner), 0);
  EXPECT_EQ(owner, "65534:65534\n");
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

// Makes a folder refuse new entries: read-only mode, or, for root, the
// immutable attribute. Undone when the object goes away.
class ClosedFolder {
 public:
  explicit ClosedFolder(const fs::path& folder) : m_folder(folder) {
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (!Refuses()) {
      m_immutable = RunCommand("chattr +i '" + m_folder.string() + "'", nullptr) == 0;
    }
  }
  ~ClosedFolder() {
    if (m_immutable) RunCommand("chattr -i '" + m_folder.string() + "'", nullptr);
    fs::permissions(m_folder, fs::perms::owner_all);
  }
  bool Refuses() const {
    std::string probe = (m_folder / "probe").string();
    if (RunCommand("touch '" + probe + "'", nullptr) != 0) return true;
    fs::remove(probe);
    return false;
  }

 private:
  fs::path m_folder;
  bool m_immutable = false;
};

TEST(ProfileWriteFile, ClosedFolderRewritesWritableFileInPlace) {
  TempDir dir;
  fs::create_directory(dir.path() / "closed");
  std::string path = dir.File("closed/settings.ini");
  WriteFile(path, "[a]\nk=1\n");
  ClosedFolder closed(dir.path() / "closed");
  if (!closed.Refuses()) GTEST_SKIP() << "cannot make a folder refuse new files here";
  ASSERT_TRUE(profile::WriteString("a", "k", "2", path));
  EXPECT_EQ(ReadFileText(path), "[a]\nk=2\n");
  EXPECT_FALSE(profile::WriteString("a", "k", "2", dir.File("closed/new.ini")));
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

TEST(ProfileWriteFile, UnreadableOrSpecialFileIsNotReplaced) {
  TempDir dir;
  std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(RunCommand("mkfifo '" + fifo + "'", nullptr), 0);
  EXPECT_FALSE(profile::WriteString("a", "k", "1", fifo));
  EXPECT_TRUE(fs::is_fifo(fifo));
  fs::create_directory(dir.path() / "folder.ini");
  EXPECT_FALSE(profile::WriteString("a", "k", "1", dir.File("folder.ini")));
  EXPECT_FALSE(profile::WriteString("a", "k", "1", dir.File("missing/x.ini")));
}

}  // namespace
}  // namespace tarnwick
