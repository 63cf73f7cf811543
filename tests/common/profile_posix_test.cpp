// The profile service on POSIX file systems: symbolic links, modes, owners,
// folders that refuse new files and FIFOs.
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
using testing::WriteFile;

TEST(ProfileReadMissingFile, FifoReadsAsMissingWithoutBlocking) {
  TempDir dir;
  std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(RunCommand("mkfifo '" + fifo + "'", nullptr), 0);
  EXPECT_EQ(profile::ReadInt("card", "size", 5, fifo), 5u);
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

TEST(ProfileWriteFile, FifoIsNotReplaced) {
  TempDir dir;
  std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(RunCommand("mkfifo '" + fifo + "'", nullptr), 0);
  EXPECT_FALSE(profile::WriteString("a", "k", "1", fifo));
  EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace
}  // namespace tarnwick
