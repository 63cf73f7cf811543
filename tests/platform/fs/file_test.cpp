// The file calls of platform/fs on the system built for: read-only files,
// whole-file reads and replacement, card image files. Their failures carry
// the system's code and a text for the operator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs/file_access.h"
#include "platform/fs/image_file.h"
#include "platform/fs/read_only_file.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

constexpr uint64_t kFourGiB = uint64_t{4} << 30;

// A failure as the operator sees it: a code and a one-line text.
void ExpectFailure(const SysStatus& status, const std::string& what) {
  EXPECT_FALSE(status.IsOk()) << what;
  EXPECT_TRUE(status.Code()) << what;
  EXPECT_FALSE(status.Text().empty()) << what;
  EXPECT_EQ(status.Text().find('\n'), std::string::npos) << what << ": " << status.Text();
}

TEST(ReadOnlyFile, OpensOnlyExistingRegularFiles) {
  TempDir dir;
  WriteFile(dir.File("file.bin"), "bytes");
  const struct {
    std::string path;
    bool opens;
  } kCases[] = {
      {dir.File("file.bin"), true},
      {dir.File("missing.bin"), false},
      {dir.File("no/such/folder.bin"), false},
      {dir.path().string(), false},
  };
  for (const auto& c : kCases) {
    ReadOnlyFile file;
    const SysStatus opened = file.Open(c.path);
    EXPECT_EQ(opened.IsOk(), c.opens) << c.path << ": " << opened.Text();
    EXPECT_EQ(file.IsOpen(), c.opens) << c.path;
    if (!c.opens) ExpectFailure(opened, c.path);
  }
}

TEST(ReadOnlyFile, ReadsStopAtTheEndOfTheFile) {
  TempDir dir;
  std::vector<uint8_t> bytes(70000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  WriteFile(dir.File("file.bin"), bytes);
  ReadOnlyFile file;
  ASSERT_TRUE(file.Open(dir.File("file.bin")).IsOk());
  const SysResult<uint64_t> size = file.Size();
  ASSERT_TRUE(size.IsOk()) << size.Status().Text();
  EXPECT_EQ(size.Value(), bytes.size());

  const struct {
    uint64_t offset;
    size_t length;
    size_t got;
  } kReads[] = {
      {0, 70000, 70000}, {65530, 100, 100}, {69990, 100, 10}, {70000, 5, 0}, {kFourGiB, 5, 0},
  };
  for (const auto& r : kReads) {
    std::vector<uint8_t> buffer(r.length, 0xEE);
    const SysResult<size_t> got = file.ReadAt(r.offset, buffer.data(), buffer.size());
    ASSERT_TRUE(got.IsOk()) << r.offset << ": " << got.Status().Text();
    ASSERT_EQ(got.Value(), r.got) << r.offset;
    for (size_t i = 0; i < r.got; ++i) ASSERT_EQ(buffer[i], bytes[r.offset + i]) << r.offset + i;
  }

  file.Close();
  EXPECT_FALSE(file.IsOpen());
  uint8_t byte = 0;
  ExpectFailure(file.Size().Status(), "size after close");
  ExpectFailure(file.ReadAt(0, &byte, 1).Status(), "read after close");
}

// Positions past 4 GiB reach the file where they should (the system call
// takes them in two 32-bit halves on Windows).
TEST(ImageFile, WritesPastFourGiBOfASparseImageReadBack) {
  TempDir dir;
  const std::string path = dir.File("card.img");
  const uint64_t size = kFourGiB + (uint64_t{64} << 20);
  ASSERT_TRUE(CreateSparseFile(path, size).IsOk());
  const SysResult<FileInfo> info = StatFile(path);
  ASSERT_TRUE(info.IsOk());
  EXPECT_TRUE(info.Value().regular);
  EXPECT_EQ(info.Value().size, size);

  const struct {
    uint64_t offset;
    uint8_t fill;
  } kWrites[] = {{kFourGiB - 512, 0x11}, {kFourGiB + 0x1234000, 0x22}, {size - 1024, 0x33}};
  ImageFile image;
  ASSERT_TRUE(image.Open(path).IsOk());
  for (const auto& w : kWrites) {
    const std::vector<uint8_t> data(1024, w.fill);
    ASSERT_TRUE(image.WriteAt(w.offset, data.data(), data.size()).IsOk()) << w.offset;
  }
  // Read back before any flush: what was written, from the file.
  for (const auto& w : kWrites) {
    std::vector<uint8_t> back(1024);
    ASSERT_TRUE(image.ReadBackAt(w.offset, back.data(), back.size()).IsOk()) << w.offset;
    EXPECT_EQ(back, std::vector<uint8_t>(1024, w.fill)) << w.offset;
  }
  std::vector<uint8_t> past(1024);
  ExpectFailure(image.ReadBackAt(size - 512, past.data(), past.size()), "read back past the end");
  EXPECT_TRUE(image.Flush().IsOk());
  image.Close();
  const uint8_t byte = 0;
  ExpectFailure(image.WriteAt(0, &byte, 1), "write after close");
  ExpectFailure(image.ReadBackAt(0, past.data(), 512), "read back after close");

  ReadOnlyFile file;
  ASSERT_TRUE(file.Open(path).IsOk());
  for (const auto& w : kWrites) {
    std::vector<uint8_t> got(1536, 0xEE);
    const SysResult<size_t> read = file.ReadAt(w.offset - 256, got.data(), got.size());
    ASSERT_TRUE(read.IsOk());
    const size_t expected =
        static_cast<size_t>(std::min<uint64_t>(got.size(), size - w.offset + 256));
    ASSERT_EQ(read.Value(), expected) << w.offset;
    for (size_t i = 0; i < expected; ++i) {
      const uint8_t want = i >= 256 && i < 1280 ? w.fill : 0;
      ASSERT_EQ(got[i], want) << w.offset << " + " << i;
    }
  }
  EXPECT_EQ(StatFile(path).Value().size, size) << "writing never changes the image's size";
}

TEST(ImageFile, NewImagesNeverReplaceAFileAndOnlyFilesOpen) {
  TempDir dir;
  const std::string path = dir.File("card.img");
  WriteFile(path, "precious");
  ExpectFailure(CreateSparseFile(path, 1 << 20), "existing file");
  EXPECT_EQ(ReadFileText(path), "precious");
  ExpectFailure(CreateSparseFile(dir.File("no/such/folder.img"), 1 << 20), "missing folder");

  const SysResult<FileInfo> folder = StatFile(dir.path().string());
  ASSERT_TRUE(folder.IsOk());
  EXPECT_FALSE(folder.Value().regular);
  ExpectFailure(StatFile(dir.File("missing.img")).Status(), "missing image");
  ImageFile image;
  ExpectFailure(image.Open(dir.File("missing.img")), "open missing image");
  ExpectFailure(image.Open(dir.path().string()), "open folder");
}

TEST(FileAccess, WholeFileReadsTellMissingFromUnreadable) {
  TempDir dir;
  std::string big(200000, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = static_cast<char>('a' + i % 26);
  WriteFile(dir.File("big.ini"), big);

  const SysResult<std::string> read = ReadWholeFile(dir.File("big.ini"));
  ASSERT_TRUE(read.IsOk()) << read.Status().Text();
  EXPECT_EQ(read.Value(), big);

  for (const std::string& missing : {dir.File("missing.ini"), dir.File("no/such/folder.ini")}) {
    const SysResult<std::string> absent = ReadWholeFile(missing);
    ExpectFailure(absent.Status(), missing);
    EXPECT_TRUE(IsMissingFile(absent.Status())) << missing << ": " << absent.Status().Text();
  }
  const SysResult<std::string> folder = ReadWholeFile(dir.path().string());
  ExpectFailure(folder.Status(), "folder");
  EXPECT_FALSE(IsMissingFile(folder.Status())) << folder.Status().Text();
}

TEST(FileAccess, ReplacementHoldsExactlyTheNewBytes) {
  TempDir dir;
  const std::string path = dir.File("settings.ini");
  for (const std::string& bytes :
       {std::string("[a]\r\nk=123456\r\n"), std::string("[a]\nk=1\n"), std::string()}) {
    ASSERT_TRUE(ReplaceFileContents(path, bytes).IsOk());
    EXPECT_EQ(ReadFileText(path), bytes);
  }
  ExpectFailure(ReplaceFileContents(dir.path().string(), "x"), "folder");
  ExpectFailure(ReplaceFileContents(dir.File("no/such/folder.ini"), "x"), "missing folder");
  // No temporary file is left beside the target.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace tarnwick::testing
