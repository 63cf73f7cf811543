// Reads checked against the behaviour measured from the Windows
// private-profile functions: every case is read as an integer with defaults 0
// and 77 and as text into buffers of 50 and 12 characters.
#include "common/profile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/ini_document.h"
#include "profile_read_cases.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::kMeasuredReadCases;
using testing::ReadCase;
using testing::TempDir;
using testing::WriteFile;

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, MatchesMeasuredBehaviour) {
  const ReadCase& c = GetParam();
  TempDir dir;
  std::string path = dir.File("case.ini");
  WriteFile(path, c.file);
  EXPECT_EQ(profile::ReadInt(c.section, c.key, 0, path), c.intDef0);
  EXPECT_EQ(profile::ReadInt(c.section, c.key, 77, path), c.intDef77);
  EXPECT_EQ(profile::ReadString(c.section, c.key, c.textDefault, 50, path), c.text50);
  EXPECT_EQ(profile::ReadString(c.section, c.key, c.textDefault, 12, path), c.text12);
}

INSTANTIATE_TEST_SUITE_P(MeasuredCases, ProfileRead, ::testing::ValuesIn(kMeasuredReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Rules of the Windows functions beyond the measured table, found by comparing
// the two under Wine (profile_oracle_win32_test.cpp).
const ReadCase kComparedCases[] = {
    {"line_without_equals_hides_later_key", "[card]\r\nsize\r\nsize=5\r\n", "card", "size", 0, 77,
     "dflt", "dflt"},
    {"comment_line_is_key_named_with_semicolon", "[card]\r\n  ;size=9\r\n", "card", ";size", 9, 9,
     "9", "9"},
    {"header_runs_to_last_bracket", "[card]x]\r\nsize=5\r\n", "card]x", "size", 5, 5, "5", "5"},
    {"header_not_cut_at_first_bracket", "[card]x]\r\nsize=5\r\n", "card", "size", 0, 77, "dflt",
     "dflt"},
    {"value_ends_at_nul", std::string("[card]\r\nsize=4\0 2\r\n", 19), "card", "size", 4, 4, "4",
     "4"},
    {"utf16be_bom", testing::Utf16Be("[card]\r\nsize=42\r\n"), "card", "size", 42, 42, "42", "42"},
    {"default_loses_trailing_spaces", "[card]\r\n", "card", "size", 0, 77, "dflt", "dflt",
     "dflt  "},
    {"default_of_spaces_keeps_one", "[card]\r\n", "card", "size", 0, 77, " ", " ", "   "},
    {"default_loses_quotes", "[card]\r\n", "card", "size", 0, 77, "dflt", "dflt", "'dflt'"},
};

INSTANTIATE_TEST_SUITE_P(ComparedCases, ProfileRead, ::testing::ValuesIn(kComparedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileReadMissingFile, EveryReadGivesItsDefault) {
  TempDir dir;
  for (const std::string& path : {dir.File("absent.ini"), dir.File("no/such/dir.ini")}) {
    EXPECT_EQ(profile::ReadInt("card", "size", 0, path), 0u);
    EXPECT_EQ(profile::ReadInt("card", "size", 77, path), 77u);
    EXPECT_EQ(profile::ReadString("card", "size", "", 50, path), "");
    EXPECT_EQ(profile::ReadString("card", "size", "ABCDEFGHIJKLMN", 12, path), "ABCDEFGHIJK");
  }
}

TEST(ProfileReadMissingFile, FolderReadsAsMissing) {
  TempDir dir;
  EXPECT_EQ(profile::ReadInt("card", "size", 5, dir.path().string()), 5u);
}

// A snapshot answers from the file as it was read: later edits, even its
// removal, are not seen; a new snapshot sees them.
TEST(ProfileSnapshot, AnswersFromTheFileAsItWasRead) {
  TempDir dir;
  std::string path = dir.File("board.ini");
  WriteFile(path, "[card]\r\nsize=0x10\r\nname=\"first\"\r\n");
  const profile::Snapshot first(path);
  WriteFile(path, "[card]\r\nsize=32\r\n");
  const profile::Snapshot second(path);
  std::filesystem::remove(path);
  EXPECT_EQ(first.ReadInt("card", "size", 0), 16u);
  EXPECT_EQ(first.ReadString("CARD", "name", "", 12), "first");
  EXPECT_EQ(second.ReadInt("card", "size", 0), 32u);
  EXPECT_EQ(second.ReadString("card", "name", "dflt", 3), "df");
  EXPECT_EQ(profile::Snapshot(path).ReadInt("card", "size", 7), 7u);
}

// The one-pass index and the line scan that edits use find the same line for
// every query, however sections and keys repeat, lack names or differ in case.
TEST(IniIndex, FindsWhatTheLineScanFinds) {
  const std::string texts[] = {
      "",
      "size=5\r\n[card]\r\nx=1\r\n",
      "[]\nsize=1\n[card]\n",
      "[card]\na=1\n[other]\nb=2\n[card]\nsize=3\n",
      "[ card ] c\rsize=1\rsize=2\r=7\r",
      "[card]\n;size=9\n size = 4 \nSIZE=5\n",
      "[card\nsize=1\n[Other]\nX=\"q\"\n[OTHER]\nb=3",
      "\n\n[a]\n[b]\n[A]\nk=1\n[]\nk=2\n",
  };
  const std::string sections[] = {"", " ", "card", "CARD", " card ", "other", "a", "b", "nope"};
  const std::string keys[] = {"size", "SIZE", " size ", "", "x", "b", "k", "a"};
  for (const std::string& text : texts) {
    const ini::Document document(text);
    const ini::Index index(text);
    for (const std::string& section : sections) {
      for (const std::string& key : keys) {
        EXPECT_EQ(index.Find(section, key), document.Find(section, key))
            << ::testing::PrintToString(text) << " [" << section << "] " << key;
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
