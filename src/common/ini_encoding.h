#pragma once
// Text encodings of INI files: plain bytes (ANSI or UTF-8), UTF-8 with a byte
// order mark, and UTF-16 (little- or big-endian) with a byte order mark.
// Files are handled as UTF-8 text in memory and written back in the encoding
// they came in.
#include <string>

namespace tarnwick::ini {

enum class Encoding { Plain, Utf8Bom, Utf16LeBom, Utf16BeBom };

struct DecodedText {
  Encoding encoding = Encoding::Plain;
  std::string text;  // without the byte order mark; UTF-16 converted to UTF-8
};

// Recognises the byte order mark and converts the contents to UTF-8. An
// unpaired UTF-16 surrogate is kept as its three-byte form so that it is
// written back unchanged.
DecodedText Decode(const std::string& bytes);

// The inverse of Decode: the byte order mark and the text in the encoding.
// Bytes that are not UTF-8 become U+FFFD in a UTF-16 file.
std::string Encode(const std::string& text, Encoding encoding);

}  // namespace tarnwick::ini
