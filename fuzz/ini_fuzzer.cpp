// The INI reader: encodings (byte order marks, UTF-16), the line model and
// its edits, the one-pass index and the profile service's integer reading.
// Document and Index must answer every lookup alike, an unedited document
// must give its text back byte for byte, and a stored key must read back.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/ini_document.h"
#include "common/ini_encoding.h"
#include "common/profile.h"
#include "fuzz_support.h"

namespace tarnwick::fuzz {
namespace {

constexpr size_t kMaxNames = 12;

std::string TrimBlanks(const std::string& s) {
  const char* blanks = " \t\v\f";
  size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string::npos) return std::string();
  return s.substr(begin, s.find_last_not_of(blanks) - begin + 1);
}

// Section and key names as they appear in the text, a few of each, so that
// lookups hit real entries as well as missing ones.
void CollectNames(const std::string& text, std::vector<std::string>& sections,
                  std::vector<std::string>& keys) {
  sections.push_back("");
  size_t pos = 0;
  while (pos < text.size() && (sections.size() < kMaxNames || keys.size() < kMaxNames)) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t open = line.find('[');
    size_t close = line.find(']');
    if (open != std::string::npos && close != std::string::npos && open < close &&
        sections.size() < kMaxNames) {
      sections.push_back(line.substr(open + 1, close - open - 1));
    }
    size_t equals = line.find('=');
    if (equals != std::string::npos && keys.size() < kMaxNames) {
      keys.push_back(line.substr(0, equals));
    }
  }
}

bool SameName(const std::string& a, const std::string& b) {
  std::string x = TrimBlanks(a), y = TrimBlanks(b);
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return lower(p) == lower(q);
  });
}

}  // namespace
}  // namespace tarnwick::fuzz

using namespace tarnwick;
using namespace tarnwick::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceDebugLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("settings.ini");
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // Decode and encode are inverse for whole files (UTF-16: an even number of bytes).
  const ini::DecodedText decoded = ini::Decode(bytes);
  const bool utf16 = decoded.encoding == ini::Encoding::Utf16LeBom ||
                     decoded.encoding == ini::Encoding::Utf16BeBom;
  if (!utf16 || size % 2 == 0) {
    FUZZ_CHECK(ini::Encode(decoded.text, decoded.encoding) == bytes);
  }

  const ini::Document document(decoded.text);
  FUZZ_CHECK(document.Text() == decoded.text);
  const ini::Index index(decoded.text);

  std::vector<std::string> sections, keys;
  CollectNames(decoded.text, sections, keys);
  keys.push_back("missing");
  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      FUZZ_CHECK(document.Find(section, key) == index.Find(section, key));
    }
  }

  // The profile service on the file: every lookup answers as the index does.
  file.Write(bytes);
  const profile::Snapshot snapshot(file.Path());
  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      std::optional<std::string> value = index.Find(section, key);
      // The service reads a value as a C string: it ends at a NUL.
      const std::string expected =
          value ? ini::StripQuotes(value->substr(0, value->find('\0'))).substr(0, 4095) : "\x01";
      FUZZ_CHECK(snapshot.ReadString(section, key, "\x01", 4096) == expected);
      (void)snapshot.ReadInt(section, key, 7);
    }
  }

  // A stored key reads back, and leaves every other key as it was.
  const std::string& section = sections[std::min<size_t>(1, sections.size() - 1)];
  const std::string& key = keys.front();
  const std::string value = "v=" + std::to_string(size);
  if (!ini::IsStorable(section, key, value)) return 0;
  if (!profile::WriteString(section, key, value, file.Path())) return 0;
  const profile::Snapshot written(file.Path());
  FUZZ_CHECK(written.ReadString(section, key, "", 4096) == value);
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      if (SameName(s, section) && SameName(k, key)) continue;
      FUZZ_CHECK(written.ReadString(s, k, "\x01", 4096) == snapshot.ReadString(s, k, "\x01", 4096));
    }
  }
  return 0;
}
