#include "common/profile.h"

#include <optional>

#include "common/ini_encoding.h"
#include "platform/fs/file_access.h"

namespace tarnwick::profile {
namespace {

// Integers are read as text into a buffer of this many characters.
constexpr size_t kIntBufferSize = 30;
// Line ending of a file this service creates: the system's own (an existing
// file keeps its own).
constexpr const char* kNewFileLineEnding = kNativeLineEnding;

std::string Cut(const std::string& text, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  return text.substr(0, bufferSize - 1);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Blanks and control characters first, an optional sign, a lower-case 0x,
// 0o or 0b prefix, then the digits of that base up to the first other
// character; modulo 2^32, negated for '-'.
uint32_t ParseInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    char marker = text[i + 1];
    base = marker == 'x' ? 16 : marker == 'o' ? 8 : marker == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  uint32_t value = 0;
  for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(DigitValue(text[i]));
  }
  return negative ? 0u - value : value;
}

}  // namespace

Snapshot::Snapshot(const std::string& path) {
  SysResult<std::string> file = ReadWholeFile(path);
  if (file) m_index.emplace(ini::Decode(file.Value()).text);
}

std::optional<std::string> Snapshot::Lookup(const std::string& section,
                                            const std::string& key) const {
  if (!m_index) return std::nullopt;
  std::optional<std::string> value = m_index->Find(section, key);
  if (!value) return std::nullopt;
  // The value is read as a C string: it ends at a NUL.
  return ini::StripQuotes(value->substr(0, value->find('\0')));
}

uint32_t Snapshot::ReadInt(const std::string& section, const std::string& key, uint32_t def) const {
  std::string text = ReadString(section, key, "", kIntBufferSize);
  return text.empty() ? def : ParseInt(text);
}

namespace {

// The default as a read gives it: trailing spaces dropped (but never its
// first character), then quotes removed as from a value.
std::string ReadDefault(const std::string& def) {
  size_t end = def.size();
  while (end > 1 && def[end - 1] == ' ') --end;
  return ini::StripQuotes(def.substr(0, end));
}

}  // namespace

std::string Snapshot::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def, size_t bufferSize) const {
  std::optional<std::string> value = Lookup(section, key);
  return Cut(value ? *value : ReadDefault(def), bufferSize);
}

uint32_t ReadInt(const std::string& section, const std::string& key, uint32_t def,
                 const std::string& path) {
  return Snapshot(path).ReadInt(section, key, def);
}

std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                       size_t bufferSize, const std::string& path) {
  return Snapshot(path).ReadString(section, key, def, bufferSize);
}

bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& path) {
  if (!ini::IsStorable(section, key, value)) return false;
  SysResult<std::string> file = ReadWholeFile(path);
  // A file that exists but cannot be read must not be replaced by one key.
  if (!file && !IsMissingFile(file.Status())) return false;
  ini::DecodedText decoded = ini::Decode(file.Value());
  ini::Document document(decoded.text);
  document.Set(section, key, value, kNewFileLineEnding);
  return ReplaceFileContents(path, ini::Encode(document.Text(), decoded.encoding)).IsOk();
}

}  // namespace tarnwick::profile
