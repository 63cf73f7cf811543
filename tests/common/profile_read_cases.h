#pragma once
// The read cases measured from the Windows private-profile functions: every
// case is read as an integer with defaults 0 and 77 and as text into buffers
// of 50 and 12 characters. profile_test.cpp checks the service against the
// recorded results; profile_oracle_win32_test.cpp against the functions
// themselves.
#include <cstdint>
#include <string>

#include "test_support.h"

namespace tarnwick::testing {

inline const std::string kSevens(3000, '7');

struct ReadCase {
  const char* name;
  std::string file;
  std::string section;
  std::string key;
  uint32_t intDef0;
  uint32_t intDef77;
  std::string text50;
  std::string text12;
  std::string textDefault = "dflt";
};

inline const ReadCase kMeasuredReadCases[] = {
    {"01_decimal", "[card]\r\nsize=123\r\n", "card", "size", 123, 123, "123", "123"},
    {"02_leading_blanks", "[card]\r\nsize=   42\r\n", "card", "size", 42, 42, "42", "42"},
    {"03_trailing_blanks", "[card]\r\nsize=42   \r\n", "card", "size", 42, 42, "42", "42"},
    {"04_tabs_around_value", "[card]\r\nsize=\t42\t\r\n", "card", "size", 42, 42, "42", "42"},
    {"05_tabs_around_key", "[card]\r\n\tsize\t=\t42\r\n", "card", "size", 42, 42, "42", "42"},
    {"06_spaces_around_equals", "[card]\r\nsize = 42\r\n", "card", "size", 42, 42, "42", "42"},
    {"07_spaces_before_key", "[card]\r\n   size=42\r\n", "card", "size", 42, 42, "42", "42"},
    {"08_hex", "[card]\r\nsize=0x1F\r\n", "card", "size", 31, 31, "0x1F", "0x1F"},
    {"09_hex_upper_prefix", "[card]\r\nsize=0X1f\r\n", "card", "size", 0, 0, "0X1f", "0X1f"},
    {"10_hex_max", "[card]\r\nsize=0xFFFFFFFF\r\n", "card", "size", 4294967295u, 4294967295u,
     "0xFFFFFFFF", "0xFFFFFFFF"},
    {"11_hex_wraps", "[card]\r\nsize=0x100000000\r\n", "card", "size", 0, 0, "0x100000000",
     "0x100000000"},
    {"12_bare_0x", "[card]\r\nsize=0x\r\n", "card", "size", 0, 0, "0x", "0x"},
    {"13_minus_one", "[card]\r\nsize=-1\r\n", "card", "size", 4294967295u, 4294967295u, "-1", "-1"},
    {"14_minus_hex", "[card]\r\nsize=-0x10\r\n", "card", "size", 4294967280u, 4294967280u, "-0x10",
     "-0x10"},
    {"15_plus", "[card]\r\nsize=+5\r\n", "card", "size", 5, 5, "+5", "+5"},
    {"16_minus_alone", "[card]\r\nsize=-\r\n", "card", "size", 0, 0, "-", "-"},
    {"17_2pow31", "[card]\r\nsize=2147483648\r\n", "card", "size", 2147483648u, 2147483648u,
     "2147483648", "2147483648"},
    {"18_2pow32_minus_1", "[card]\r\nsize=4294967295\r\n", "card", "size", 4294967295u, 4294967295u,
     "4294967295", "4294967295"},
    {"19_2pow32", "[card]\r\nsize=4294967296\r\n", "card", "size", 0, 0, "4294967296",
     "4294967296"},
    {"20_eleven_nines", "[card]\r\nsize=99999999999\r\n", "card", "size", 1215752191u, 1215752191u,
     "99999999999", "99999999999"},
    {"21_digits_then_letters", "[card]\r\nsize=12abc\r\n", "card", "size", 12, 12, "12abc",
     "12abc"},
    {"22_letters", "[card]\r\nsize=abc\r\n", "card", "size", 0, 0, "abc", "abc"},
    {"23_exponent", "[card]\r\nsize=1e3\r\n", "card", "size", 1, 1, "1e3", "1e3"},
    {"24_empty_value", "[card]\r\nsize=\r\n", "card", "size", 0, 77, "", ""},
    {"25_octal_prefix", "[card]\r\nsize=0o17\r\n", "card", "size", 15, 15, "0o17", "0o17"},
    {"26_binary_prefix", "[card]\r\nsize=0b101\r\n", "card", "size", 5, 5, "0b101", "0b101"},
    {"27_leading_zero_is_decimal", "[card]\r\nsize=017\r\n", "card", "size", 17, 17, "017", "017"},
    {"28_double_quoted", "[card]\r\nsize=\"42\"\r\n", "card", "size", 42, 42, "42", "42"},
    {"29_single_quoted", "[card]\r\nsize='42'\r\n", "card", "size", 42, 42, "42", "42"},
    {"30_quoted_inner_blanks", "[card]\r\nsize=\" 42 \"\r\n", "card", "size", 42, 42, " 42 ",
     " 42 "},
    {"31_lone_leading_quote", "[card]\r\nsize=\"42\r\n", "card", "size", 0, 0, "\"42", "\"42"},
    {"32_semicolon_comment_is_value", "[card]\r\nsize=42 ; comment\r\n", "card", "size", 42, 42,
     "42 ; comment", "42 ; commen"},
    {"33_hash_comment_is_value", "[card]\r\nsize=42 # comment\r\n", "card", "size", 42, 42,
     "42 # comment", "42 # commen"},
    {"34_value_with_equals", "[card]\r\nsize=a=b\r\n", "card", "size", 0, 0, "a=b", "a=b"},
    {"35_section_case", "[CARD]\r\nsize=5\r\n", "card", "size", 5, 5, "5", "5"},
    {"36_key_case", "[card]\r\nSIZE=5\r\n", "card", "size", 5, 5, "5", "5"},
    {"37_section_blanks", "[ card ]\r\nsize=5\r\n", "card", "size", 5, 5, "5", "5"},
    {"38_text_after_header", "[card] ; c\r\nsize=5\r\n", "card", "size", 5, 5, "5", "5"},
    {"39_duplicate_key_first_wins", "[card]\r\nsize=1\r\nsize=2\r\n", "card", "size", 1, 1, "1",
     "1"},
    {"40_duplicate_section_key_in_second",
     "[card]\r\na=1\r\n[other]\r\nb=2\r\n[card]\r\nsize=3\r\n", "card", "size", 0, 77, "dflt",
     "dflt"},
    {"41_duplicate_section_key_in_both", "[card]\r\nsize=1\r\n[other]\r\n[card]\r\nsize=2\r\n",
     "card", "size", 1, 1, "1", "1"},
    {"42_key_before_sections_not_in_card", "size=5\r\n[card]\r\nx=1\r\n", "card", "size", 0, 77,
     "dflt", "dflt"},
    {"43_key_before_sections_in_unnamed", "size=5\r\n[card]\r\nx=1\r\n", "", "size", 5, 5, "5",
     "5"},
    {"44_line_without_equals", "[card]\r\nsize\r\n", "card", "size", 0, 77, "dflt", "dflt"},
    {"45_commented_out_key", "[card]\r\n;size=9\r\n", "card", "size", 0, 77, "dflt", "dflt"},
    {"46_lf_endings", "[card]\nsize=42\nname=boot\n", "card", "size", 42, 42, "42", "42"},
    {"47_cr_endings", "[card]\rsize=42\rname=boot\r", "card", "size", 42, 42, "42", "42"},
    {"48_no_newline_at_end", "[card]\r\nsize=42", "card", "size", 42, 42, "42", "42"},
    {"49_utf8_bom_section", "\xEF\xBB\xBF[card]\r\nsize=42\r\n", "card", "size", 42, 42, "42",
     "42"},
    {"50_utf8_bom_key", "\xEF\xBB\xBFsize=42\r\n", "", "size", 42, 42, "42", "42"},
    {"51_utf8_value", "[card]\r\nsize=\xE5\x8D\xA1\r\n", "card", "size", 0, 0, "\xE5\x8D\xA1",
     "\xE5\x8D\xA1"},
    {"52_utf16le_bom", Utf16Le("[card]\r\nsize=42\r\n"), "card", "size", 42, 42, "42", "42"},
    {"53_long_value", "[card]\r\nsize=" + kSevens + "\r\n", "card", "size", 3519487089u,
     3519487089u, std::string(49, '7'), std::string(11, '7')},
    {"54_long_line_before_key", "[card]\r\npad=" + kSevens + "\r\nsize=42\r\n", "card", "size", 42,
     42, "42", "42"},
    {"55_value_longer_than_buffers", "[card]\r\nsize=ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n", "card",
     "size", 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJK"},
    {"56_value_of_11", "[card]\r\nsize=ABCDEFGHIJK\r\n", "card", "size", 0, 0, "ABCDEFGHIJK",
     "ABCDEFGHIJK"},
    {"57_value_of_12", "[card]\r\nsize=ABCDEFGHIJKL\r\n", "card", "size", 0, 0, "ABCDEFGHIJKL",
     "ABCDEFGHIJK"},
    // Not measured: a quoted value that just fills the buffer keeps all of it.
    {"quoted_value_fills_buffer", "[card]\r\nsize=\"ABCDEFGHIJK\"\r\n", "card", "size", 0, 0,
     "ABCDEFGHIJK", "ABCDEFGHIJK"},
    {"58_missing_key", "[card]\r\nother=1\r\n", "card", "size", 0, 77, "dflt", "dflt"},
    {"59_default_with_blanks", "[card]\r\nother=1\r\n", "card", "size", 0, 77, "  dflt", "  dflt",
     "  dflt"},
    {"60_missing_section", "[card]\r\nsize=1\r\n", "nope", "size", 0, 77, "dflt", "dflt"},
};

}  // namespace tarnwick::testing
