#include "platform/text.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>

namespace platform::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i. Overlong forms, surrogates and
// values beyond U+10FFFF give U+FFFD and consume one byte.
char32_t decode_one(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + len > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

locale_t case_locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (l) {
      const char* cs = nl_langinfo_l(CODESET, l);
      if (cs && (std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "utf8") == 0)) return l;
      freelocale(l);
    }
    l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u32string utf8_to_utf32(std::string_view s) {
  std::u32string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) r += decode_one(s, i);
  return r;
}

std::string utf32_to_utf8(std::u32string_view s) {
  std::string r;
  r.reserve(s.size());
  for (char32_t c : s) append_utf8(r, c);
  return r;
}

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t c = decode_one(s, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      r += static_cast<char16_t>(0xD800 + (c >> 10));
      r += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      r += static_cast<char16_t>(c);
    }
  }
  return r;
}

std::string utf16_to_utf8(std::u16string_view s) {
  std::string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    append_utf8(r, c);
  }
  return r;
}

std::wstring utf8_to_wide(std::string_view s) {
  static_assert(sizeof(wchar_t) == 4, "wide strings hold code points on this platform");
  std::wstring r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) r += static_cast<wchar_t>(decode_one(s, i));
  return r;
}

std::string wide_to_utf8(std::wstring_view s) {
  std::string r;
  r.reserve(s.size());
  for (wchar_t c : s) append_utf8(r, static_cast<char32_t>(c));
  return r;
}

std::string decode_text_file(std::string_view b) {
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return std::string(b.substr(3));
  auto utf16 = [&](bool little) {
    std::u16string u;
    u.reserve(b.size() / 2);
    for (std::size_t i = 2; i + 1 < b.size(); i += 2) {
      auto lo = static_cast<unsigned char>(b[little ? i : i + 1]);
      auto hi = static_cast<unsigned char>(b[little ? i + 1 : i]);
      u += static_cast<char16_t>(lo | (hi << 8));
    }
    return utf16_to_utf8(u);
  };
  if (b.size() >= 2 && b.substr(0, 2) == "\xFF\xFE") return utf16(true);
  if (b.size() >= 2 && b.substr(0, 2) == "\xFE\xFF") return utf16(false);
  return std::string(b);
}

std::vector<std::string> split_lines(std::string_view s) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' || s[i] == '\n') {
      lines.emplace_back(s.substr(start, i - start));
      if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < s.size()) lines.emplace_back(s.substr(start));
  return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string r;
  for (const auto& l : lines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

char32_t to_lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), case_locale()));
}

char32_t to_upper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), case_locale()));
}

std::string to_lower(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) append_utf8(r, to_lower(decode_one(s, i)));
  return r;
}

std::string to_upper(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) append_utf8(r, to_upper(decode_one(s, i)));
  return r;
}

int compare_nocase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    std::size_t si = i, sj = j;
    char32_t ca = to_lower(decode_one(a, i));
    char32_t cb = to_lower(decode_one(b, j));
    if (ca != cb) return ca < cb ? -1 : 1;
    // Bytes that are no UTF-8 (a name in an 8-bit encoding) compare as bytes, so
    // that two different such names never count as equal.
    if (ca == kReplacement) {
      int c = a.substr(si, i - si).compare(b.substr(sj, j - sj));
      if (c != 0) return c < 0 ? -1 : 1;
    }
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  return compare_nocase(a, b) == 0;
}

bool equals_ascii_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  std::size_t i = 0, j = 0;
  while (j < prefix.size()) {
    if (i >= s.size()) return false;
    std::size_t si = i, sj = j;
    char32_t cs = to_lower(decode_one(s, i));
    if (cs != to_lower(decode_one(prefix, j))) return false;
    if (cs == kReplacement && s.substr(si, i - si) != prefix.substr(sj, j - sj)) return false;
  }
  return true;
}

bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string r;
  r.reserve(s.size());
  std::size_t pos = 0;
  for (;;) {
    auto k = s.find(from, pos);
    if (k == std::string_view::npos) break;
    r.append(s.substr(pos, k - pos));
    r.append(to);
    pos = k + from.size();
  }
  r.append(s.substr(pos));
  return r;
}

}  // namespace platform::text
