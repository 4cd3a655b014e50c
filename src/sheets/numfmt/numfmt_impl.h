// Internal representation of a compiled number format, shared by the parser and the
// renderers. Not part of the engine's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/numfmt/numfmt.h"

namespace sheets::numfmt {

enum class Tok : std::uint8_t {
  Literal,     // lits[a, a+b)
  Digit,       // placeholder ch ('0', '#', '?'), role, pos
  Point,       // decimal point
  Exp,         // 'E+' (plus) or 'E-'
  Slash,       // fraction bar
  FixedDen,    // fixed fraction denominator, digits in lits[a, a+b)
  General,     // the General format inside a section
  Text,        // '@'
  // Date and time codes; width is the number of letters.
  Year,        // y: width <= 2 two digits, else four
  Month,       // m: 1, 2, 3 (Jan), 4 (January), 5 (J)
  Day,         // d: 1, 2, 3 (Sun), 4 (Sunday)
  Hour,        // h: 1 or 2
  Minute,      // m after an hour or before seconds: 1 or 2
  Second,      // s: 1 or 2
  SubSecond,   // .0, .00, .000: width digits
  AmPm,        // AM/PM
  AP,          // A/P, a/p: lits holds the two letters
  ElapsedH,    // [h] [hh]
  ElapsedM,    // [m] [mm]
  ElapsedS,    // [s] [ss]
  EraYear,     // e: the year
  Buddhist,    // b: width <= 2 two digits, else four
  Nothing,     // codes that show nothing (g, B1)
  Comma,       // while parsing only: becomes a separator, a scale or a literal
  Percent,     // while parsing only: becomes a scale and a literal
};

enum class Role : std::uint8_t { None, Int, Frac, Exp, Num, Den };

struct Token {
  Tok kind = Tok::Literal;
  char ch = 0;         // placeholder character, or the first letter of a date code
  Role role = Role::None;
  std::uint16_t width = 0;
  std::uint32_t a = 0;  // literal offset, or placeholder position
  std::uint32_t b = 0;  // literal length
};

enum class CondOp : std::uint8_t { None, Eq, Ne, Lt, Le, Gt, Ge };

enum class SectionKind : std::uint8_t { Empty, Number, Date, Text, General };

struct Section {
  std::vector<Token> toks;
  std::string lits;
  SectionKind kind = SectionKind::Empty;
  CondOp op = CondOp::None;
  double limit = 0;

  // Number sections.
  int int_count = 0;    // integer (or mantissa, or fraction whole-part) placeholders
  int frac_count = 0;   // placeholders after the decimal point
  int exp_count = 0;    // exponent placeholders
  int num_count = 0;    // fraction numerator placeholders
  int den_count = 0;    // fraction denominator placeholders
  std::uint64_t fixed_den = 0;
  int scale10 = 0;      // +2 per '%', -3 per scaling comma
  bool grouping = false;
  bool has_point = false;
  bool is_exp = false;
  bool exp_plus = false;
  bool engineering = false;
  bool is_fraction = false;
  bool mixed = false;   // fraction with a whole-number part
  bool has_digits = false;
  std::uint32_t num_first = 0;  // token index where the fraction (numerator) starts
  std::uint32_t den_last = 0;   // token index where it ends

  // Date sections.
  bool hour12 = false;
  bool hijri = false;
  int subsec = 0;       // largest fractional-second precision
  bool elapsed_only = false;  // its only codes are elapsed counts ([h], [mm], [ss], ...)

  bool has_text = false;  // holds '@'
};

struct FormatImpl {
  std::vector<Section> sections;  // number sections, then the text section if any
  int number_count = 0;           // number sections (0..3)
  int text_index = -1;            // index of the text section, -1 if none
  bool error = false;
  bool general = false;           // numbers render as plain General
  bool date = false;
  bool conditional = false;
};

// Decimal digits of a non-negative finite value rounded to 15 significant digits:
// value = 0.d[0]d[1]...d[n-1] x 10^point, trailing zeros removed (n == 0: zero).
struct Decimal {
  char d[16];
  int n = 0;
  int point = 0;
  char digit(int i) const { return i >= 0 && i < n ? d[i] : '0'; }
  bool zero() const { return n == 0; }
  // Rounds half away from zero to `decimals` places after the point.
  void round_decimals(int decimals);
  // Rounds to `sig` significant digits.
  void round_significant(int sig);
};
Decimal to_decimal(double abs_value);

// The parsed form; FormatImpl::error tells whether it failed.
void parse_format(std::string_view code, FormatImpl& f);

void render_number_section(const Section& s, double value, bool negative_prefix,
                           bool general_signed, std::string& out);
void render_date_section(const Section& s, double value, bool date1904, std::string& out);
void append_hashes(std::string& out);

}  // namespace sheets::numfmt
