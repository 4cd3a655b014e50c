// Parsing of number-format codes into sections of tokens.
#include <charconv>
#include <cstring>

#include "sheets/numfmt/numfmt_impl.h"

namespace sheets::numfmt {

namespace {

constexpr int kMaxSections = 4;

// Built-in formats as the US English edition on Windows shows them.
struct Builtin {
  int id;
  const char* code;
};
constexpr Builtin kBuiltins[] = {
    {0, "General"},
    {1, "0"},
    {2, "0.00"},
    {3, "#,##0"},
    {4, "#,##0.00"},
    {5, "\"$\"#,##0_);\\(\"$\"#,##0\\)"},
    {6, "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)"},
    {7, "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)"},
    {8, "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)"},
    {9, "0%"},
    {10, "0.00%"},
    {11, "0.00E+00"},
    {12, "# ?/?"},
    {13, "# ?\?/??"},
    {14, "m/d/yyyy"},
    {15, "d-mmm-yy"},
    {16, "d-mmm"},
    {17, "mmm-yy"},
    {18, "h:mm AM/PM"},
    {19, "h:mm:ss AM/PM"},
    {20, "h:mm"},
    {21, "h:mm:ss"},
    {22, "m/d/yyyy h:mm"},
    // The application keeps a blank for the closing parenthesis after positive numbers
    // in all four (the form some libraries record, "#,##0.00;(#,##0.00)", drops it).
    {37, "#,##0_);(#,##0)"},
    {38, "#,##0_);[Red](#,##0)"},
    {39, "#,##0.00_);(#,##0.00)"},
    {40, "#,##0.00_);[Red](#,##0.00)"},
    {41, "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)"},
    {42, "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)"},
    {43, "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"?\?_);_(@_)"},
    {44, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)"},
    {45, "mm:ss"},
    {46, "[h]:mm:ss"},
    {47, "mmss.0"},
    {48, "##0.0E+0"},
    {49, "@"},
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_nocase(std::string_view s, std::size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (lower(s[i + k]) != word[k]) return false;
  return true;
}

// Length of the UTF-8 sequence starting at s[i] (at least 1, never past the end).
std::size_t cp_len(std::string_view s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (i + n > s.size()) n = s.size() - i;
  return n;
}

bool is_date_code(Tok k) {
  switch (k) {
    case Tok::Year:
    case Tok::Month:
    case Tok::Day:
    case Tok::Hour:
    case Tok::Minute:
    case Tok::Second:
    case Tok::SubSecond:
    case Tok::AmPm:
    case Tok::AP:
    case Tok::ElapsedH:
    case Tok::ElapsedM:
    case Tok::ElapsedS:
    case Tok::EraYear:
    case Tok::Buddhist:
    case Tok::Nothing:
      return true;
    default:
      return false;
  }
}

// Characters the application accepts as literals without quotes or escapes.
bool is_plain_literal(char c) {
  return std::strchr(" $-+():!^&'~{}<>=acfijklopqrtuvwxzP", c) != nullptr && c != '\0';
}

// The system's long date and time formats (US English), which the locale tags
// [$-F800] and [$-F400] (written [$-x-sysdate] and [$-x-systime] by newer versions)
// stand for.
constexpr std::string_view kSystemLongDate = "dddd, mmmm d, yyyy";
constexpr std::string_view kSystemTime = "h:mm:ss AM/PM";

// The system format a locale tag's code (the part after '-') stands for, or empty.
// The code is hexadecimal; the system date and time are told by its low 16 bits.
std::string_view system_format(std::string_view locale) {
  if (locale.size() == 9 && starts_nocase(locale, 0, "x-sysdate")) return kSystemLongDate;
  if (locale.size() == 9 && starts_nocase(locale, 0, "x-systime")) return kSystemTime;
  if (locale.empty() || locale.size() > 8) return {};
  std::uint32_t v = 0;
  auto r = std::from_chars(locale.data(), locale.data() + locale.size(), v, 16);
  if (r.ec != std::errc() || r.ptr != locale.data() + locale.size()) return {};
  if ((v & 0xFFFF) == 0xF800) return kSystemLongDate;
  if ((v & 0xFFFF) == 0xF400) return kSystemTime;
  return {};
}

// Parse-time tokens that do not survive finishing a section.
constexpr Tok kComma = Tok::Comma;
constexpr Tok kPercent = Tok::Percent;

class SectionParser {
 public:
  SectionParser(std::string_view s, Section& sec) : s_(s), sec_(sec) {}

  bool run() {
    if (!tokenize()) return false;
    bool text = false;
    for (const Token& t : sec_.toks) text = text || t.kind == Tok::Text;
    if (!system_code_.empty() && !text) {
      // The system date or time tag stands for the system's own format, whatever the
      // number section says after it; conditions in the section still apply.
      sec_.toks.clear();
      sec_.lits.clear();
      sec_.hijri = false;
      SectionParser system(system_code_, sec_);
      if (!system.tokenize()) return false;
    }
    finish();
    return true;
  }

 private:
  void literal(std::string_view text) {
    if (text.empty()) return;
    // Merge with a preceding literal.
    if (!sec_.toks.empty() && sec_.toks.back().kind == Tok::Literal &&
        sec_.toks.back().a + sec_.toks.back().b == sec_.lits.size()) {
      sec_.toks.back().b += static_cast<std::uint32_t>(text.size());
      sec_.lits.append(text);
      return;
    }
    Token t;
    t.kind = Tok::Literal;
    t.a = static_cast<std::uint32_t>(sec_.lits.size());
    t.b = static_cast<std::uint32_t>(text.size());
    sec_.lits.append(text);
    sec_.toks.push_back(t);
  }
  void token(Tok k, char ch = 0, std::uint16_t width = 0) {
    Token t;
    t.kind = k;
    t.ch = ch;
    t.width = width;
    sec_.toks.push_back(t);
  }
  std::size_t run_length(std::size_t i, char c) const {
    std::size_t j = i;
    while (j < s_.size() && lower(s_[j]) == c) ++j;
    return j - i;
  }

  bool bracket(std::string_view in) {
    if (in.empty()) return true;
    if (in[0] == '$') {
      std::size_t dash = in.find('-', 1);
      literal(in.substr(1, dash == std::string_view::npos ? std::string_view::npos : dash - 1));
      if (dash != std::string_view::npos) {
        const std::string_view system = system_format(in.substr(dash + 1));
        if (!system.empty()) system_code_ = system;
      }
      return true;
    }
    if (in[0] == '<' || in[0] == '>' || in[0] == '=') {
      std::size_t k = 1;
      CondOp op;
      if (in[0] == '=') {
        op = CondOp::Eq;
      } else if (in[0] == '<' && in.size() > 1 && in[1] == '>') {
        op = CondOp::Ne;
        k = 2;
      } else if (in.size() > 1 && in[1] == '=') {
        op = in[0] == '<' ? CondOp::Le : CondOp::Ge;
        k = 2;
      } else {
        op = in[0] == '<' ? CondOp::Lt : CondOp::Gt;
      }
      std::string_view num = in.substr(k);
      while (!num.empty() && num.front() == ' ') num.remove_prefix(1);
      while (!num.empty() && num.back() == ' ') num.remove_suffix(1);
      double v = 0;
      auto r = std::from_chars(num.data(), num.data() + num.size(), v);
      if (num.empty() || r.ec != std::errc() || r.ptr != num.data() + num.size()) return false;
      sec_.op = op;
      sec_.limit = v;
      return true;
    }
    char c0 = lower(in[0]);
    if (c0 == 'h' || c0 == 'm' || c0 == 's') {
      bool same = true;
      for (char c : in) same = same && lower(c) == c0;
      if (same) {
        if (in.size() > 2) return false;
        // An elapsed count is the largest unit of the section: one after a date or
        // clock field (HH[MM]) makes the code unusable, and the application shows
        // such cells as General.
        for (const Token& t : sec_.toks)
          if (t.kind == Tok::Year || t.kind == Tok::Month || t.kind == Tok::Day ||
              t.kind == Tok::Hour || t.kind == Tok::Second || t.kind == Tok::EraYear ||
              t.kind == Tok::Buddhist)
            return false;
        token(c0 == 'h' ? Tok::ElapsedH : c0 == 'm' ? Tok::ElapsedM : Tok::ElapsedS, c0,
              static_cast<std::uint16_t>(in.size()));
        return true;
      }
    }
    // Colours, [ColorN], calendar and locale tags: nothing to show.
    return true;
  }

  bool tokenize() {
    std::size_t i = 0;
    const std::size_t n = s_.size();
    while (i < n) {
      const char c = s_[i];
      switch (c) {
        case '"': {
          std::size_t j = s_.find('"', i + 1);
          if (j == std::string_view::npos) return false;
          literal(s_.substr(i + 1, j - i - 1));
          i = j + 1;
          continue;
        }
        case '\\': {
          if (i + 1 < n) {
            std::size_t l = cp_len(s_, i + 1);
            literal(s_.substr(i + 1, l));
            i += 1 + l;
          } else {
            i += 1;
          }
          continue;
        }
        case '_':
          i += 1;
          if (i < n) i += cp_len(s_, i);
          literal(" ");
          continue;
        case '*':
          i += 1;
          if (i < n) i += cp_len(s_, i);
          continue;
        case '[': {
          std::size_t j = s_.find(']', i + 1);
          if (j == std::string_view::npos) return false;
          if (!bracket(s_.substr(i + 1, j - i - 1))) return false;
          i = j + 1;
          continue;
        }
        case '0':
        case '#':
        case '?':
          token(Tok::Digit, c);
          ++i;
          continue;
        case '.':
          token(Tok::Point, c);
          ++i;
          continue;
        case ',':
          token(kComma, c);
          ++i;
          continue;
        case '%':
          token(kPercent, c);
          ++i;
          continue;
        case '@':
          token(Tok::Text, c);
          ++i;
          continue;
        case '/': {
          token(Tok::Slash, c);
          ++i;
          std::size_t j = i;
          while (j < n && s_[j] == ' ') ++j;
          if (j < n && s_[j] >= '1' && s_[j] <= '9') {
            literal(s_.substr(i, j - i));
            std::size_t k = j;
            while (k < n && s_[k] >= '0' && s_[k] <= '9') ++k;
            Token t;
            t.kind = Tok::FixedDen;
            t.a = static_cast<std::uint32_t>(sec_.lits.size());
            t.b = static_cast<std::uint32_t>(k - j);
            sec_.lits.append(s_.substr(j, k - j));
            sec_.toks.push_back(t);
            i = k;
          }
          continue;
        }
        default:
          break;
      }
      if ((c == 'E' || c == 'e') && i + 1 < n && (s_[i + 1] == '+' || s_[i + 1] == '-')) {
        Token t;
        t.kind = Tok::Exp;
        t.ch = c;
        t.width = s_[i + 1] == '+' ? 1 : 0;
        sec_.toks.push_back(t);
        i += 2;
        continue;
      }
      const char lc = lower(c);
      if (lc == 'g' && starts_nocase(s_, i, "general")) {
        token(Tok::General);
        i += 7;
        continue;
      }
      if (lc == 'a') {
        if (starts_nocase(s_, i, "am/pm")) {
          token(Tok::AmPm, c);
          i += 5;
          continue;
        }
        if (starts_nocase(s_, i, "a/p")) {
          Token t;
          t.kind = Tok::AP;
          t.a = static_cast<std::uint32_t>(sec_.lits.size());
          t.b = 2;
          sec_.lits += s_[i];
          sec_.lits += s_[i + 2];
          sec_.toks.push_back(t);
          i += 3;
          continue;
        }
        literal(s_.substr(i, 1));
        ++i;
        continue;
      }
      if (s_.substr(i).starts_with("\xE4\xB8\x8A\xE5\x8D\x88/\xE4\xB8\x8B\xE5\x8D\x88")) {
        token(Tok::AmPm, 'A');  // the Chinese morning/afternoon marker
        i += 13;
        continue;
      }
      if (c == 'B' && i + 1 < n && (s_[i + 1] == '1' || s_[i + 1] == '2')) {
        if (s_[i + 1] == '2') sec_.hijri = true;
        token(Tok::Nothing, 'B');
        i += 2;
        continue;
      }
      if (lc == 'y' || lc == 'm' || lc == 'd' || lc == 'h' || lc == 's' || lc == 'e' ||
          lc == 'b' || lc == 'g') {
        std::size_t len = run_length(i, lc);
        if ((lc == 'h' || lc == 's') && len > 2) return false;
        Tok k = lc == 'y'   ? Tok::Year
                : lc == 'm' ? Tok::Month
                : lc == 'd' ? Tok::Day
                : lc == 'h' ? Tok::Hour
                : lc == 's' ? Tok::Second
                : lc == 'e' ? Tok::EraYear
                : lc == 'b' ? Tok::Buddhist
                            : Tok::Nothing;
        token(k, lc, static_cast<std::uint16_t>(len > 60000 ? 60000 : len));
        i += len;
        continue;
      }
      if (c >= '1' && c <= '9') {
        literal(s_.substr(i, 1));
        ++i;
        continue;
      }
      if (static_cast<unsigned char>(c) < 0x80) {
        if (!is_plain_literal(c)) return false;
        literal(s_.substr(i, 1));
        ++i;
        continue;
      }
      if (s_.substr(i).starts_with("\xE2\x82\xAC")) {  // the euro sign
        literal(s_.substr(i, 3));
        i += 3;
        continue;
      }
      return false;
    }
    return true;
  }

  void to_literal(Token& t) {
    // Reinterpret a token as the character(s) it was written with.
    char buf[3] = {t.ch, 0, 0};
    std::size_t len = 1;
    if (t.kind == Tok::Exp) {
      buf[1] = t.width ? '+' : '-';
      len = 2;
    }
    if (t.kind == Tok::FixedDen || t.kind == Tok::Literal) {
      t.kind = Tok::Literal;
      return;
    }
    if (t.kind == Tok::General) {
      t.a = static_cast<std::uint32_t>(sec_.lits.size());
      sec_.lits += "General";
      t.b = 7;
      t.kind = Tok::Literal;
      return;
    }
    t.a = static_cast<std::uint32_t>(sec_.lits.size());
    sec_.lits.append(buf, len);
    t.b = static_cast<std::uint32_t>(len);
    t.kind = Tok::Literal;
  }

  void finish() {
    auto& toks = sec_.toks;
    bool has_date = false, has_text = false, has_general = false, has_digit = false;
    for (const Token& t : toks) {
      has_date = has_date || is_date_code(t.kind);
      has_text = has_text || t.kind == Tok::Text;
      has_general = has_general || t.kind == Tok::General;
      has_digit = has_digit || t.kind == Tok::Digit;
    }
    sec_.has_text = has_text;
    if (has_text) {
      sec_.kind = SectionKind::Text;
      for (Token& t : toks)
        if (t.kind != Tok::Text && t.kind != Tok::Literal) t.kind = Tok::Nothing;
      return;
    }
    if (has_date) {
      finish_date();
      return;
    }
    if (toks.empty()) {
      sec_.kind = SectionKind::Empty;
      return;
    }
    if (has_general && toks.size() == 1) {
      sec_.kind = SectionKind::General;
      return;
    }
    sec_.kind = SectionKind::Number;
    sec_.has_digits = has_digit;
    finish_number();
  }

  void finish_date() {
    sec_.kind = SectionKind::Date;
    auto& toks = sec_.toks;
    // Fractional seconds: a point followed by zeros.
    for (std::size_t i = 0; i < toks.size(); ++i) {
      Token& t = toks[i];
      if (t.kind == Tok::Point && i + 1 < toks.size() && toks[i + 1].kind == Tok::Digit &&
          toks[i + 1].ch == '0') {
        std::size_t j = i + 1;
        while (j < toks.size() && toks[j].kind == Tok::Digit && toks[j].ch == '0') ++j;
        int w = static_cast<int>(j - i - 1);
        if (w > kMaxSubsecondDigits) w = kMaxSubsecondDigits;
        t.kind = Tok::SubSecond;
        t.width = static_cast<std::uint16_t>(w);
        if (w > sec_.subsec) sec_.subsec = w;
        for (std::size_t k = i + 1; k < i + 1 + static_cast<std::size_t>(w); ++k)
          toks[k].kind = Tok::Nothing, toks[k].ch = 0;
        i = i + static_cast<std::size_t>(w);
      }
    }
    for (Token& t : toks) {
      switch (t.kind) {
        case Tok::Digit:
        case Tok::Point:
        case Tok::Slash:
        case Tok::FixedDen:
        case Tok::Exp:
        case Tok::General:
        case Tok::Text:
        case kComma:
        case kPercent:
          to_literal(t);
          break;
        case Tok::AmPm:
        case Tok::AP:
          sec_.hour12 = true;
          break;
        default:
          break;
      }
    }
    sec_.elapsed_only = true;
    for (const Token& t : toks)
      if (t.kind != Tok::Literal && t.kind != Tok::ElapsedH && t.kind != Tok::ElapsedM &&
          t.kind != Tok::ElapsedS)
        sec_.elapsed_only = false;
    // "m" and "mm" mean minutes right after an hour or right before seconds.
    auto is_code = [](Tok k) {
      return k == Tok::Year || k == Tok::Month || k == Tok::Day || k == Tok::Hour ||
             k == Tok::Second || k == Tok::ElapsedH || k == Tok::ElapsedM ||
             k == Tok::ElapsedS || k == Tok::Minute;
    };
    for (std::size_t i = 0; i < toks.size(); ++i) {
      if (toks[i].kind != Tok::Month || toks[i].width > 2) continue;
      Tok prev = Tok::Literal, next = Tok::Literal;
      for (std::size_t j = i; j-- > 0;)
        if (is_code(toks[j].kind)) {
          prev = toks[j].kind;
          break;
        }
      for (std::size_t j = i + 1; j < toks.size(); ++j)
        if (is_code(toks[j].kind)) {
          next = toks[j].kind;
          break;
        }
      if (prev == Tok::Hour || prev == Tok::ElapsedH || next == Tok::Second ||
          next == Tok::ElapsedS)
        toks[i].kind = Tok::Minute;
    }
  }

  void finish_number() {
    auto& toks = sec_.toks;
    const std::size_t n = toks.size();
    // The structure: exponent, decimal point, fraction bar.
    std::size_t exp_at = n, point_at = n, slash_at = n;
    for (std::size_t i = 0; i < n; ++i) {
      if (toks[i].kind == Tok::Exp) {
        if (exp_at == n) exp_at = i;
        else to_literal(toks[i]);
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (toks[i].kind != Tok::Point) continue;
      if (point_at == n && i < exp_at) point_at = i;
      else to_literal(toks[i]);
    }
    auto blank_literal = [&](const Token& t) {
      if (t.kind != Tok::Literal) return false;
      for (std::uint32_t k = 0; k < t.b; ++k)
        if (sec_.lits[t.a + k] != ' ') return false;
      return true;
    };
    if (exp_at == n && point_at == n) {
      bool digit_before = false;
      for (std::size_t i = 0; i < n && slash_at == n; ++i) {
        if (toks[i].kind == Tok::Digit) digit_before = true;
        if (toks[i].kind == Tok::Slash && digit_before) {
          std::size_t j = i + 1;
          while (j < n && blank_literal(toks[j])) ++j;
          if (j < n && (toks[j].kind == Tok::Digit || toks[j].kind == Tok::FixedDen)) slash_at = i;
        }
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (toks[i].kind == Tok::Slash && i != slash_at) to_literal(toks[i]);
      if (toks[i].kind == Tok::FixedDen && (slash_at == n || i < slash_at)) to_literal(toks[i]);
    }

    // Roles of the placeholders.
    if (slash_at != n) {
      sec_.is_fraction = true;
      std::size_t j = slash_at + 1;
      while (j < n && blank_literal(toks[j])) ++j;
      std::size_t den_end = j;
      if (toks[j].kind == Tok::FixedDen) {
        std::uint64_t v = 0;
        for (std::uint32_t k = 0; k < toks[j].b && k < 18; ++k)
          v = v * 10 + static_cast<std::uint64_t>(sec_.lits[toks[j].a + k] - '0');
        sec_.fixed_den = v == 0 ? 1 : v;
        den_end = j + 1;
      } else {
        while (den_end < n && toks[den_end].kind == Tok::Digit) {
          toks[den_end].role = Role::Den;
          toks[den_end].a = static_cast<std::uint32_t>(sec_.den_count++);
          ++den_end;
        }
      }
      sec_.den_last = static_cast<std::uint32_t>(den_end - 1);
      for (std::size_t k = den_end; k < n; ++k)
        if (toks[k].kind == Tok::Digit || toks[k].kind == Tok::FixedDen) to_literal(toks[k]);
      // Numerator: the last run of placeholders before the bar.
      std::size_t k = slash_at;
      while (k > 0 && toks[k - 1].kind == Tok::Literal && blank_literal(toks[k - 1])) --k;
      std::size_t num_end = k;
      while (k > 0 && (toks[k - 1].kind == Tok::Digit || toks[k - 1].kind == kComma)) --k;
      sec_.num_first = static_cast<std::uint32_t>(k);
      for (std::size_t q = k; q < num_end; ++q)
        if (toks[q].kind == Tok::Digit) toks[q].role = Role::Num;
      for (std::size_t q = 0; q < k; ++q)
        if (toks[q].kind == Tok::Digit) toks[q].role = Role::Int;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        if (toks[i].kind != Tok::Digit) continue;
        toks[i].role = i > exp_at ? Role::Exp : i > point_at ? Role::Frac : Role::Int;
      }
    }
    sec_.has_point = point_at != n;
    sec_.is_exp = exp_at != n;
    if (sec_.is_exp) sec_.exp_plus = toks[exp_at].width != 0;

    // Commas: thousands separator between integer placeholders, scaling after a
    // placeholder, otherwise shown as they are.
    for (std::size_t i = 0; i < n; ++i) {
      if (toks[i].kind != kComma) continue;
      std::size_t q = i;
      while (q < n && toks[q].kind == kComma) ++q;
      const bool after_digit = i > 0 && toks[i - 1].kind == Tok::Digit;
      const bool before_int = q < n && toks[q].kind == Tok::Digit &&
                              (toks[q].role == Role::Int || toks[q].role == Role::Num);
      for (std::size_t k = i; k < q; ++k) {
        if (after_digit && before_int) {
          if (toks[q].role == Role::Int) sec_.grouping = true;
          toks[k].kind = Tok::Nothing;
        } else if (after_digit) {
          sec_.scale10 -= 3;
          toks[k].kind = Tok::Nothing;
        } else {
          to_literal(toks[k]);
        }
      }
      i = q - 1;
    }
    for (Token& t : toks) {
      if (t.kind == kPercent) {
        sec_.scale10 += 2;
        to_literal(t);
      }
    }
    // Positions: integer-like groups count from the right, others from the left.
    int ints = 0, fracs = 0, exps = 0, nums = 0;
    for (const Token& t : toks) {
      if (t.kind != Tok::Digit) continue;
      if (t.role == Role::Int) ++ints;
      if (t.role == Role::Frac) ++fracs;
      if (t.role == Role::Exp) ++exps;
      if (t.role == Role::Num) ++nums;
    }
    sec_.int_count = ints;
    sec_.frac_count = fracs;
    sec_.exp_count = exps;
    sec_.num_count = nums;
    sec_.mixed = sec_.is_fraction && ints > 0;
    int ri = ints, rf = 0, re = exps, rn = nums;
    bool int_hash = false;
    for (Token& t : toks) {
      if (t.kind != Tok::Digit) continue;
      switch (t.role) {
        case Role::Int:
          t.a = static_cast<std::uint32_t>(--ri);
          int_hash = int_hash || t.ch != '0';
          break;
        case Role::Frac:
          t.a = static_cast<std::uint32_t>(rf++);
          break;
        case Role::Exp:
          t.a = static_cast<std::uint32_t>(--re);
          break;
        case Role::Num:
          t.a = static_cast<std::uint32_t>(--rn);
          break;
        default:
          break;
      }
    }
    sec_.engineering = sec_.is_exp && ints > 1 && int_hash;
  }

  std::string_view s_;
  Section& sec_;
  std::string_view system_code_;  // the system format a locale tag asks for, if any
};

bool split_sections(std::string_view code, std::vector<std::string_view>& out) {
  std::size_t start = 0, i = 0;
  const std::size_t n = code.size();
  while (i < n) {
    char c = code[i];
    if (c == '"') {
      std::size_t j = code.find('"', i + 1);
      if (j == std::string_view::npos) return false;
      i = j + 1;
    } else if (c == '[') {
      std::size_t j = code.find(']', i + 1);
      if (j == std::string_view::npos) return false;
      i = j + 1;
    } else if (c == '\\' || c == '_' || c == '*') {
      i += 1;
      if (i < n) i += cp_len(code, i);
    } else if (c == ';') {
      out.push_back(code.substr(start, i - start));
      if (out.size() >= kMaxSections) return false;
      start = ++i;
    } else {
      ++i;
    }
  }
  out.push_back(code.substr(start));
  return true;
}

}  // namespace

std::string_view builtin_format(int id) {
  for (const Builtin& b : kBuiltins)
    if (b.id == id) return b.code;
  return {};
}

void parse_format(std::string_view code, FormatImpl& f) {
  f = FormatImpl{};
  auto fail = [&f]() {
    f = FormatImpl{};
    f.error = true;
    f.general = true;
  };
  if (code.size() > kMaxFormatLength) return fail();
  if (code.empty()) {
    f.general = true;
    return;
  }
  std::vector<std::string_view> parts;
  if (!split_sections(code, parts)) return fail();
  f.sections.resize(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    SectionParser p(parts[i], f.sections[i]);
    if (!p.run()) return fail();
  }
  const int count = static_cast<int>(f.sections.size());
  if (count == kMaxSections || f.sections.back().has_text) f.text_index = count - 1;
  f.number_count = f.text_index >= 0 ? count - 1 : count;
  for (int i = 0; i < f.number_count; ++i) {
    const Section& s = f.sections[static_cast<std::size_t>(i)];
    if (s.op != CondOp::None) f.conditional = true;
    if (s.kind == SectionKind::Date) f.date = true;
  }
  f.general = f.number_count == 0 ||
              (f.number_count == 1 && f.sections[0].kind == SectionKind::General &&
               !f.conditional);
}

}  // namespace sheets::numfmt
