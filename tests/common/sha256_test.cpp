#include "common/sha256.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

std::string Digest(const std::string& text, size_t piece) {
  CSha256 hash;
  for (size_t at = 0; at < text.size(); at += piece) {
    hash.Update(text.data() + at, std::min(piece, text.size() - at));
  }
  return hash.HexDigest();
}

TEST(Sha256, KnownDigestsWhateverThePiecesFedIn) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : cases) {
    for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1} << 20}) {
      EXPECT_EQ(Digest(text, piece), digest) << text.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(Sha256, OfAFileAndOfNoFile) {
  testing::TempDir dir;
  // More than one read of the file.
  testing::WriteFile(dir.File("big"), std::string((3 << 20) + 5, 'a'));
  CSha256 hash;
  const std::string text((3 << 20) + 5, 'a');
  hash.Update(text.data(), text.size());
  SysResult<std::string> file = Sha256OfFile(dir.File("big"));
  ASSERT_TRUE(file) << file.Status().Text();
  EXPECT_EQ(file.Value(), hash.HexDigest());
  EXPECT_FALSE(Sha256OfFile(dir.File("none")));
}

}  // namespace
}  // namespace tarnwick
