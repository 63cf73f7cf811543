// The profile service against the Windows private-profile functions
// themselves: every case is read through both, and every write is made
// through both on two copies of a file and read back. A row where the two
// differ is printed with both answers. Runs on Windows (and under Wine) only.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "common/profile.h"
#include "profile_read_cases.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::kMeasuredReadCases;
using testing::ReadFileText;
using testing::TempDir;
using testing::Utf16Be;
using testing::Utf16Le;
using testing::WriteFile;

// A query of one file: section and key asked, and the text default.
struct Query {
  std::string name;
  std::string file;
  std::string section;
  std::string key;
  std::string textDefault = "dflt";
};

// Buffer sizes every text read is made with: the callers' 50 and 12, the
// integer reader's 30, and the smallest ones.
constexpr size_t kBufferSizes[] = {50, 30, 12, 3, 2, 1};

const std::string kH = "[card]\r\n";
std::string V(const std::string& value) {
  return kH + "size=" + value + "\r\n";
}

// prefix, that many zeros, suffix. (Built by appending: GCC 12 warns falsely
// on "literal" + std::string&&.)
std::string Zeros(const char* prefix, size_t zeros, const char* suffix) {
  std::string out = prefix;
  out.append(zeros, '0');
  out += suffix;
  return out;
}

std::string Utf16LeNoBom(const std::string& ascii) {
  return Utf16Le(ascii).substr(2);
}

// Cases beyond the measured table.
std::vector<Query> OwnQueries() {
  return {
      // Hexadecimal, octal and binary.
      {"hex_lower", V("0xff"), "card", "size"},
      {"hex_stops_at_non_digit", V("0x1Fg7"), "card", "size"},
      {"hex_after_blanks_in_quotes", V("\"  0x10\""), "card", "size"},
      {"hex_plus", V("+0x10"), "card", "size"},
      {"hex_int_max", V("0x7FFFFFFF"), "card", "size"},
      {"hex_wraps_long", V("0x123456789"), "card", "size"},
      {"hex_double_zero", V("00x10"), "card", "size"},
      {"hex_without_zero", V("x10"), "card", "size"},
      {"octal_stops_at_8", V("0o78"), "card", "size"},
      {"octal_upper_marker", V("0O17"), "card", "size"},
      {"octal_bare", V("0o"), "card", "size"},
      {"binary_stops_at_2", V("0b102"), "card", "size"},
      {"binary_negative", V("-0b11"), "card", "size"},
      {"binary_upper_marker", V("0B11"), "card", "size"},
      {"zero", V("0"), "card", "size"},
      // Signs.
      {"minus_zero", V("-0"), "card", "size"},
      {"double_minus", V("--5"), "card", "size"},
      {"plus_minus", V("+-5"), "card", "size"},
      {"minus_blank_digit", V("\"- 5\""), "card", "size"},
      {"plus_alone", V("+"), "card", "size"},
      {"int_min", V("-2147483648"), "card", "size"},
      {"minus_wraps", V("-4294967297"), "card", "size"},
      {"digits_then_sign", V("5-3"), "card", "size"},
      {"control_char_before_digits",
       V("\x01"
         "7"),
       "card", "size"},
      // Integers of 29 characters and longer (the integer buffer holds 29).
      {"int_29_chars", V(std::string(27, '0') + "42"), "card", "size"},
      {"int_30_chars", V(std::string(28, '0') + "42"), "card", "size"},
      {"int_31_chars", V(std::string(29, '0') + "42"), "card", "size"},
      {"int_29_negative", V(Zeros("-", 26, "42")), "card", "size"},
      {"int_29_hex", V(Zeros("0x", 25, "FF")), "card", "size"},
      {"int_30_hex", V(Zeros("0x", 26, "FF")), "card", "size"},
      {"int_29_quoted", V(Zeros("\"", 27, "42\"")), "card", "size"},
      {"int_29_after_blanks", V(Zeros("   ", 27, "42")), "card", "size"},
      // Duplicate sections and keys.
      {"dup_key_first_empty", kH + "size=\r\nsize=5\r\n", "card", "size"},
      {"dup_key_other_case", kH + "SIZE=1\r\nsize=2\r\n", "card", "size"},
      {"dup_section_other_case", "[CARD]\r\na=1\r\n[card]\r\nsize=2\r\n", "card", "size"},
      {"dup_section_key_in_first", kH + "size=1\r\n[card]\r\nx=2\r\n", "card", "size"},
      {"dup_section_second_key", kH + "size=1\r\n[card]\r\nx=2\r\n", "card", "x"},
      {"dup_empty_section", "size=1\r\n[]\r\nsize=2\r\n", "", "size"},
      // Empty values.
      {"empty_value_blanks", V("   "), "card", "size"},
      {"empty_value_tab", V("\t"), "card", "size"},
      {"empty_quoted_double", V("\"\""), "card", "size"},
      {"empty_quoted_single", V("''"), "card", "size"},
      {"empty_value_empty_default", V(""), "card", "size", ""},
      {"missing_key_empty_default", kH, "card", "size", ""},
      {"empty_file", "", "card", "size"},
      // Text encodings.
      {"utf16le_no_bom", Utf16LeNoBom("[card]\r\nsize=42\r\n"), "card", "size"},
      {"utf16be_bom", Utf16Be("[card]\r\nsize=42\r\n"), "card", "size"},
      {"utf16le_lf", Utf16Le("[card]\nsize=42\n"), "card", "size"},
      {"utf16le_key_on_line_1", Utf16Le("size=42\r\n"), "", "size"},
      {"utf16le_long_value", Utf16Le(kH + "size=ABCDEFGHIJKLMNOP\r\n"), "card", "size"},
      {"utf8_bom_only", "\xEF\xBB\xBF", "card", "size"},
      {"latin1_value", V("caf\xE9"), "card", "size"},
      {"utf8_bom_ascii_value", "\xEF\xBB\xBF" + V("boot"), "card", "size"},
      // Line endings.
      {"mixed_endings", "[card]\nx=1\r\nsize=42\rname=boot\r\n", "card", "size"},
      {"cr_cr_lf", "[card]\r\r\nsize=42\r\r\n", "card", "size"},
      {"lf_cr", "[card]\n\rsize=42\n\r", "card", "size"},
      {"blank_lines", "\r\n\r\n[card]\r\n\r\n\r\nsize=42\r\n", "card", "size"},
      {"lf_no_newline_at_eof", "[card]\nsize=42", "card", "size"},
      // Keys before any section.
      {"key_before_section_named_empty", "size=5\r\n[]\r\nsize=6\r\n", "", "size"},
      {"key_before_section_blank_name", "size=5\r\n[  ]\r\nsize=6\r\n", "", "size"},
      {"only_keys_no_section", "a=1\r\nsize=5\r\n", "", "size"},
      {"key_before_section_after_comment", "; c\r\nsize=5\r\n[card]\r\n", "", "size"},
      // Whitespace.
      {"blank_before_header", "  [card]\r\nsize=42\r\n", "card", "size"},
      {"tab_in_brackets", "[\tcard\t]\r\nsize=42\r\n", "card", "size"},
      {"header_without_close", "[card\r\nsize=42\r\n", "card", "size"},
      {"header_without_close_ask_empty", "[card\r\nsize=42\r\n", "", "size"},
      {"header_then_key_on_line", "[card]size=42\r\n", "card", "size"},
      {"inner_blank_in_key", kH + "si ze=42\r\n", "card", "si ze"},
      {"inner_blanks_in_value", V("a  b"), "card", "size"},
      {"blank_line_of_spaces", kH + "   \r\nsize=42\r\n", "card", "size"},
      {"comment_after_blanks", kH + "  ;size=9\r\n", "card", "size"},
      {"comment_after_blanks_as_key", kH + "  ;size=9\r\n", "card", ";size"},
      {"hash_line", kH + "#size=9\r\n", "card", "size"},
      {"hash_line_as_key", kH + "#size=9\r\n", "card", "#size"},
      {"equals_first", kH + "=9\r\n", "card", ""},
      {"line_without_equals_then_key", kH + "size\r\nsize=5\r\n", "card", "size"},
      {"header_two_close_brackets", "[card]x]\r\nsize=5\r\n", "card", "size"},
      {"header_two_close_brackets_full", "[card]x]\r\nsize=5\r\n", "card]x", "size"},
      {"section_comment_line", "; [card]\r\nsize=1\r\n[card]\r\nsize=2\r\n", "card", "size"},
      {"nul_in_value",
       kH + std::string("size=4\0"
                        "2\r\n",
                        10),
       "card", "size"},
      // Quotes.
      {"quotes_mismatched", V("\"42'"), "card", "size"},
      {"quotes_nested", V("'\"42\"'"), "card", "size"},
      {"quotes_doubled", V("\"\"42\"\""), "card", "size"},
      {"quote_alone", V("\""), "card", "size"},
      {"quote_trailing_only", V("42\""), "card", "size"},
      {"quotes_inside", V("\"a\" b"), "card", "size"},
      {"quotes_then_blank", V("\"42\"  "), "card", "size"},
      {"quoted_long_value", V("\"ABCDEFGHIJKLMNOP\""), "card", "size"},
      {"quoted_blank_inside_and_out", V("  ' x '  "), "card", "size"},
      // Long values and buffer cuts.
      {"value_49", V(std::string(49, 'a')), "card", "size"},
      {"value_50", V(std::string(50, 'a')), "card", "size"},
      {"value_51", V(std::string(51, 'a')), "card", "size"},
      {"value_5000", V(std::string(5000, 'b')), "card", "size"},
      {"key_long_name", kH + std::string(300, 'k') + "=1\r\n", "card", std::string(300, 'k')},
      {"default_cut", kH, "card", "size", "ABCDEFGHIJKLMNOP"},
      {"default_trailing_blanks", kH, "card", "size", "dflt  "},
      {"default_trailing_tab", kH, "card", "size", "dflt\t"},
      {"default_only_blanks", kH, "card", "size", "   "},
      {"default_quoted", kH, "card", "size", "\"dflt\""},
  };
}

std::vector<Query> AllQueries() {
  std::vector<Query> all;
  for (const auto& c : kMeasuredReadCases) {
    all.push_back({c.name, c.file, c.section, c.key, c.textDefault});
  }
  for (Query& q : OwnQueries()) all.push_back(std::move(q));
  return all;
}

// Characters as C escapes, long runs shortened.
std::string Shown(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 80) {
      out += "...(" + std::to_string(text.size()) + " chars)";
      break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Wine keeps parsed files in a cache, so every file the functions read gets a
// name of its own.
class Files {
 public:
  std::string Fresh(const std::string& contents) {
    std::string path = FreshName();
    WriteFile(path, contents);
    return path;
  }
  std::string FreshName() {
    std::string name = "f";
    name += std::to_string(m_next++);
    name += ".ini";
    return m_dir.File(name);
  }

 private:
  TempDir m_dir;
  int m_next = 0;
};

std::string WindowsText(const Query& q, size_t size, const std::string& path) {
  std::vector<char> buffer(size + 1, '#');
  const DWORD n = GetPrivateProfileStringA(q.section.c_str(), q.key.c_str(), q.textDefault.c_str(),
                                           buffer.data(), static_cast<DWORD>(size), path.c_str());
  return std::string(buffer.data(), n);
}

// One answer compared: printed when the two differ. A difference that a
// known defect of Wine's functions explains is printed and counted apart.
struct Tally {
  int compared = 0;
  int differing = 0;
  int wineDefect = 0;
  void Check(const std::string& row, const std::string& what, const std::string& ours,
             const std::string& windows, bool explained = false) {
    ++compared;
    if (ours == windows) return;
    ++(explained ? wineDefect : differing);
    std::cout << (explained ? "WINE-QUOTE-CUT " : "DIFF ") << row << " " << what << ": ours "
              << ours << ", Windows " << windows << "\n";
  }
};

// Wine's functions remove a value's quotes after cutting it to the buffer,
// and when the buffer holds the value without its closing quote exactly they
// drop the value's last character instead of the quote: they then answer one
// character short of what fits, although one more buffer character gives the
// whole value. True when that explains the Windows answer.
bool IsWineQuoteCut(const Query& q, size_t size, const std::string& path, const std::string& ours,
                    const std::string& windows) {
  return size >= 2 && ours.size() == size - 1 && windows == ours.substr(0, size - 2) &&
         WindowsText(q, size + 1, path) == ours;
}

TEST(ProfileOracle, ReadsAnswerAsTheWindowsFunctions) {
  Files files;
  Tally tally;
  for (const Query& q : AllQueries()) {
    const std::string path = files.Fresh(q.file);
    // An integer is read as text into 30 characters: the defect there
    // explains a different integer too.
    bool intTextCut = false;
    for (size_t size : kBufferSizes) {
      const std::string ours = profile::ReadString(q.section, q.key, q.textDefault, size, path);
      const std::string windows = WindowsText(q, size, path);
      const bool explained = ours != windows && IsWineQuoteCut(q, size, path, ours, windows);
      if (size == 30) intTextCut = explained;
      tally.Check(q.name, "text" + std::to_string(size), Shown(ours), Shown(windows), explained);
    }
    for (uint32_t def : {0u, 77u}) {
      const uint32_t ours = profile::ReadInt(q.section, q.key, def, path);
      const UINT windows = GetPrivateProfileIntA(q.section.c_str(), q.key.c_str(),
                                                 static_cast<INT>(def), path.c_str());
      tally.Check(q.name, "int" + std::to_string(def), std::to_string(ours),
                  std::to_string(windows), intTextCut);
    }
  }
  std::cout << "profile oracle: " << tally.compared << " reads compared, " << tally.differing
            << " differ, " << tally.wineDefect << " differ by Wine's quote cut\n";
  EXPECT_EQ(tally.differing, 0);
}

TEST(ProfileOracle, MissingFileReadsAsDefaults) {
  Files files;
  const std::string path = files.FreshName();
  const Query q{"missing_file", "", "card", "size"};
  EXPECT_EQ(profile::ReadInt("card", "size", 77, path),
            GetPrivateProfileIntA("card", "size", 77, path.c_str()));
  EXPECT_EQ(profile::ReadString("card", "size", "dflt", 50, path), WindowsText(q, 50, path));
}

// A write made to a file (missing when before is empty and exists is false),
// and the keys read back afterwards.
struct WriteCase {
  std::string name;
  bool exists;
  std::string before;
  std::string section;
  std::string key;
  std::string value;
  std::vector<std::pair<std::string, std::string>> readBack;
};

std::vector<WriteCase> WriteCases() {
  const std::vector<std::pair<std::string, std::string>> cardKeys = {
      {"card", "size"}, {"card", "x"}, {"card", "name"}, {"other", "k"}, {"", "top"}};
  return {
      {"new_file", false, "", "card", "size", "42", cardKeys},
      {"empty_file", true, "", "card", "size", "42", cardKeys},
      {"replace_crlf", true, "[card]\r\nsize=1\r\nx=2\r\n", "card", "size", "42", cardKeys},
      {"replace_lf", true, "[card]\nsize=1\nx=2\n", "card", "size", "42", cardKeys},
      {"replace_blanks_and_comment", true, "; top\r\n[card]\r\n  size = 1 ; old\r\n\r\nx=2\r\n",
       "card", "size", "42", cardKeys},
      {"add_key_lf", true, "[card]\nx=2\n[other]\nk=3\n", "card", "size", "42", cardKeys},
      {"add_section_crlf", true, "[other]\r\nk=3\r\n", "card", "size", "42", cardKeys},
      {"add_no_newline_at_eof", true, "[card]\r\nx=2", "card", "size", "42", cardKeys},
      {"section_other_case", true, "[CARD]\r\nSIZE=1\r\n", "card", "size", "42", cardKeys},
      {"duplicate_key_first_replaced", true, "[card]\r\nsize=1\r\nsize=2\r\n", "card", "size", "42",
       cardKeys},
      {"duplicate_section", true, "[card]\r\nx=1\r\n[other]\r\n[card]\r\nsize=2\r\n", "card",
       "size", "42", cardKeys},
      {"key_before_section", true, "top=1\r\n[card]\r\nsize=2\r\n", "", "top", "9", cardKeys},
      {"empty_value", true, "[card]\r\nsize=1\r\n", "card", "size", "", cardKeys},
      {"value_with_blanks", true, "[card]\r\nsize=1\r\n", "card", "size", "  a b  ", cardKeys},
      {"value_quoted", true, "[card]\r\nsize=1\r\n", "card", "size", "\"42\"", cardKeys},
      {"value_with_semicolon", true, "[card]\r\n", "card", "name", "a ; b", cardKeys},
      {"value_long", true, "[card]\r\n", "card", "name", std::string(3000, 'z'), cardKeys},
      {"negative_int_text", true, "[card]\r\n", "card", "size", "-1", cardKeys},
      {"utf8_bom_file", true, "\xEF\xBB\xBF[card]\r\nsize=1\r\n", "card", "size", "42", cardKeys},
      {"utf16le_file", true, Utf16Le("[card]\r\nsize=1\r\nx=2\r\n"), "card", "size", "42",
       cardKeys},
      {"utf16le_file_new_section", true, Utf16Le("[card]\r\nsize=1\r\n"), "other", "k", "3",
       cardKeys},
      {"utf16be_file", true, Utf16Be("[card]\r\nsize=1\r\nx=2\r\n"), "card", "size", "42",
       cardKeys},
      {"line_without_equals_gets_value", true, "[card]\r\nsize\r\nsize=1\r\n", "card", "size", "42",
       cardKeys},
      {"comment_line_not_a_place_for_keys", true, "[card]\r\nx=1\r\n;c\r\n", "card", "size", "42",
       cardKeys},
      {"header_to_last_bracket", true, "[card]x]\r\nsize=1\r\n", "card", "size", "42", cardKeys},
      {"cr_only_file", true, "[card]\rsize=1\rx=2\r", "card", "size", "42", cardKeys},
  };
}

TEST(ProfileOracle, WritesReadBackAsTheWindowsFunctions) {
  Files files;
  Tally tally;
  int layoutDiffers = 0;
  for (const WriteCase& c : WriteCases()) {
    const std::string ours = c.exists ? files.Fresh(c.before) : files.FreshName();
    const std::string windows = c.exists ? files.Fresh(c.before) : files.FreshName();
    const bool ourResult = profile::WriteString(c.section, c.key, c.value, ours);
    const bool windowsResult = WritePrivateProfileStringA(c.section.c_str(), c.key.c_str(),
                                                          c.value.c_str(), windows.c_str()) != 0;
    tally.Check(c.name, "result", ourResult ? "true" : "false", windowsResult ? "true" : "false");
    // The written files read afresh through the Windows functions.
    const std::string ourBytes = ReadFileText(ours);
    const std::string windowsBytes = ReadFileText(windows);
    const std::string ourCopy = files.Fresh(ourBytes);
    const std::string windowsCopy = files.Fresh(windowsBytes);
    for (const auto& [section, key] : c.readBack) {
      const Query q{c.name, "", section, key};
      const std::string what = "[" + section + "] " + key;
      tally.Check(c.name, what + " read by Windows", Shown(WindowsText(q, 4000, ourCopy)),
                  Shown(WindowsText(q, 4000, windowsCopy)));
      tally.Check(c.name, what + " read by us",
                  Shown(profile::ReadString(section, key, "dflt", 4000, ourCopy)),
                  Shown(WindowsText(q, 4000, windowsCopy)));
    }
    // The layout of the lines not read above is reported, not compared: an
    // edit here leaves every other line as it was.
    if (ourBytes != windowsBytes) {
      ++layoutDiffers;
      std::cout << "LAYOUT " << c.name << ": ours " << Shown(ourBytes) << ", Windows "
                << Shown(windowsBytes) << "\n";
    }
  }
  std::cout << "profile oracle: " << tally.compared << " write answers compared, "
            << tally.differing << " differ; " << layoutDiffers << " files laid out differently\n";
  EXPECT_EQ(tally.differing, 0);
}

// A new file is written with CRLF line endings, as the Windows functions write it.
TEST(ProfileOracle, NewFileHasTheSameBytes) {
  Files files;
  const std::string ours = files.FreshName();
  const std::string windows = files.FreshName();
  ASSERT_TRUE(profile::WriteString("Burn", "Mode", "2", ours));
  ASSERT_TRUE(WritePrivateProfileStringA("Burn", "Mode", "2", windows.c_str()));
  ASSERT_TRUE(profile::WriteString("Burn", "CanUseBoardMode", "1", ours));
  ASSERT_TRUE(WritePrivateProfileStringA("Burn", "CanUseBoardMode", "1", windows.c_str()));
  ASSERT_TRUE(profile::WriteString("ResName", "CfgFile", "board.ini", ours));
  ASSERT_TRUE(WritePrivateProfileStringA("ResName", "CfgFile", "board.ini", windows.c_str()));
  EXPECT_EQ(Shown(ReadFileText(ours)), Shown(ReadFileText(windows)));
}

}  // namespace
}  // namespace tarnwick
