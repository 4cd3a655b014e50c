// Text helpers. Text is UTF-8 in std::string throughout the program; these helpers
// convert to and from UTF-16 and UTF-32, decode text files by their byte-order mark,
// split lines, and compare without regard to case.
//
// Case-insensitive comparison follows the user's locale for case pairs (beyond
// ASCII: "É" equals "é"). When the user's locale has no Unicode character type
// (the plain C locale), the C.UTF-8 locale's case pairs are used.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

// Invalid UTF-8 sequences decode as U+FFFD; lone surrogates in UTF-16 likewise.
std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
std::u32string utf8_to_utf32(std::string_view s);
std::string utf32_to_utf8(std::u32string_view s);
void append_utf8(std::string& out, char32_t c);
// wchar_t is 32 bits on this platform; these convert to and from that form.
std::wstring utf8_to_wide(std::string_view s);
std::string wide_to_utf8(std::wstring_view s);

// Decodes the bytes of a text file: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark
// selects that encoding (and is removed); otherwise the system's 8-bit encoding is
// used, which on this platform is UTF-8.
std::string decode_text_file(std::string_view bytes);

// Splits at CR LF, a lone CR and a lone LF; a final line break adds no empty line.
std::vector<std::string> split_lines(std::string_view s);
// Every line followed by CR LF.
std::string join_lines(const std::vector<std::string>& lines);

char32_t to_lower(char32_t c);
char32_t to_upper(char32_t c);
std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);

// <0, 0 or >0, comparing code points after case folding.
int compare_nocase(std::string_view a, std::string_view b);
bool equals_nocase(std::string_view a, std::string_view b);
// Equality with ASCII letters folded only: for fixed keywords (member names,
// "true", "skip"), where the locale must not matter.
bool equals_ascii_nocase(std::string_view a, std::string_view b);
bool starts_with_nocase(std::string_view s, std::string_view prefix);
bool contains(std::string_view s, std::string_view part);

// Replaces every occurrence of from (compared exactly) by to.
std::string replace_all(std::string_view s, std::string_view from, std::string_view to);

}  // namespace platform::text
