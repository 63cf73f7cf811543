#include "common/ini_encoding.h"

#include <cstdint>

namespace tarnwick::ini {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char kUtf16BeBom[] = "\xFE\xFF";
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

void AppendUtf16Unit(uint32_t unit, bool bigEndian, std::string* out) {
  const auto low = static_cast<char>(unit & 0xFF);
  const auto high = static_cast<char>(unit >> 8);
  out->push_back(bigEndian ? high : low);
  out->push_back(bigEndian ? low : high);
}

std::string Utf16ToUtf8(const std::string& bytes, size_t start, bool bigEndian) {
  std::string out;
  auto unitAt = [&](size_t i) {
    const auto first = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i]));
    const auto second = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1]));
    return bigEndian ? (first << 8) | second : first | (second << 8);
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

std::string Utf8ToUtf16(const std::string& text, bool bigEndian) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = NextCodePoint(text, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendUtf16Unit(0xD800 + (cp >> 10), bigEndian, &out);
      AppendUtf16Unit(0xDC00 + (cp & 0x3FF), bigEndian, &out);
    } else {
      AppendUtf16Unit(cp, bigEndian, &out);
    }
  }
  return out;
}

}  // namespace

DecodedText Decode(const std::string& bytes) {
  DecodedText result;
  if (bytes.rfind(kUtf16LeBom, 0) == 0) {
    result.encoding = Encoding::Utf16LeBom;
    result.text = Utf16ToUtf8(bytes, 2, false);
  } else if (bytes.rfind(kUtf16BeBom, 0) == 0) {
    result.encoding = Encoding::Utf16BeBom;
    result.text = Utf16ToUtf8(bytes, 2, true);
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
      return kUtf16LeBom + Utf8ToUtf16(text, false);
    case Encoding::Utf16BeBom:
      return kUtf16BeBom + Utf8ToUtf16(text, true);
    case Encoding::Utf8Bom:
      return kUtf8Bom + text;
    case Encoding::Plain:
      break;
  }
  return text;
}

}  // namespace tarnwick::ini
