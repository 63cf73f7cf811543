#include "common/ini_encoding.h"

#include <cstdint>

namespace tarnwick::ini {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16Unit(uint32_t unit, std::string* out) {
  out->push_back(static_cast<char>(unit & 0xFF));
  out->push_back(static_cast<char>(unit >> 8));
}

std::string Utf16LeToUtf8(const std::string& bytes, size_t start) {
  std::string out;
  auto unitAt = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8);
  };
  size_t i = start;
  while (i + 1 < bytes.size()) {
    uint32_t unit = unitAt(i);
    i += 2;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < bytes.size()) {
      uint32_t low = unitAt(i);
      if (low >= 0xDC00 && low < 0xE000) {
        i += 2;
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
        continue;
      }
    }
    AppendUtf8(unit, &out);  // also an unpaired surrogate, as its three bytes
  }
  return out;
}

// Reads one code point at text[*i], advancing *i; invalid bytes give U+FFFD.
uint32_t NextCodePoint(const std::string& text, size_t* i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(*i);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 0;
  if (length == 0 || *i + length > text.size()) {
    ++*i;
    return kReplacement;
  }
  uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(*i + k) & 0x3F);
  }
  *i += length;
  return cp;
}

std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = NextCodePoint(text, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendUtf16Unit(0xD800 + (cp >> 10), &out);
      AppendUtf16Unit(0xDC00 + (cp & 0x3FF), &out);
    } else {
      AppendUtf16Unit(cp, &out);
    }
  }
  return out;
}

}  // namespace

DecodedText Decode(const std::string& bytes) {
  DecodedText result;
  if (bytes.rfind(kUtf16LeBom, 0) == 0) {
    result.encoding = Encoding::Utf16LeBom;
    result.text = Utf16LeToUtf8(bytes, 2);
  } else if (bytes.rfind(kUtf8Bom, 0) == 0) {
    result.encoding = Encoding::Utf8Bom;
    result.text = bytes.substr(3);
  } else {
    result.text = bytes;
  }
  return result;
}

std::string Encode(const std::string& text, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16LeBom:
      return kUtf16LeBom + Utf8ToUtf16Le(text);
    case Encoding::Utf8Bom:
      return kUtf8Bom + text;
    case Encoding::Plain:
      break;
  }
  return text;
}

}  // namespace tarnwick::ini
