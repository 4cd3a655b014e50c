// Number formats: turns a cell value and its number-format code into the text the
// spreadsheet application shows for it with US English conventions (the text that a
// CSV export writes for the cell).
//
// A format code has up to four sections separated by ';' (positive; negative; zero;
// text), optional conditions ([>100]), colours ([Red], [Color12]) which are ignored,
// currency/locale tags ([$€-409]: the currency text is shown, the locale code is not;
// the system tags [$-F800] and [$-F400] turn a number section into the system long
// date "dddd, mmmm d, yyyy" or time "h:mm:ss AM/PM", whatever follows them),
// quoted literals, '\' escapes, '_x' (one blank), '*x' (fill: nothing), digit
// placeholders 0 # ?, the decimal point, thousands separator and scaling commas,
// percent, scientific notation, fractions, '@' for text and date/time codes.
//
// Values are rendered from their 15 significant decimal digits, as the application
// does, and rounded half away from zero.
//
// Signs: a negative number shown through the first section gets a leading '-' (also
// when it rounds to zero, and also when the section has no digit placeholders); the
// negative section (the second one, or one whose condition is [<0] or [<=0]) shows
// the number's size without a sign, except that General inside it keeps the sign.
// A section picked by any other condition keeps the sign. Negative zero is zero.
//
// Fractions take the last continued-fraction convergent of the value whose
// denominator fits the placeholders (as the application does, which is not always the
// closest fraction); a fixed denominator (# ?/8) rounds to eighths.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace sheets::numfmt {

// Longest format code accepted; longer codes give a Format with an error.
inline constexpr std::size_t kMaxFormatLength = 4096;
// Text shown for a value its date/time format cannot show (a negative serial or one
// past 9999-12-31): this many '#' characters.
inline constexpr std::size_t kHashFillLength = 255;
// Largest number of denominator digits a fraction searches (more placeholders pad).
inline constexpr int kMaxFractionDenominatorDigits = 7;
// Largest number of fractional-second digits a time can show.
inline constexpr int kMaxSubsecondDigits = 3;

// Text of a built-in format id as the US English application shows it (Windows),
// empty when the id has none. 0 is "General", 14 "m/d/yyyy", 22 "m/d/yyyy h:mm",
// 49 "@". Ids whose text depends on an East Asian locale (27-36, 50-81) have none.
std::string_view builtin_format(int id);

struct FormatImpl;

// A compiled format code: immutable once parsed and safe to share between threads.
class Format {
 public:
  // Never throws. A code that cannot be parsed (unknown characters, an unterminated
  // quote or bracket, more than four sections, too long, ...) gives a Format that
  // renders every number like General and every text unchanged; has_error() tells.
  static std::shared_ptr<const Format> parse(std::string_view code);

  bool has_error() const;
  // The code contains date or time codes in a number section.
  bool is_date() const;
  // Numbers render exactly as General (the code is General, possibly with a colour,
  // or has an error).
  bool is_general() const;

  // Appends the text shown for a number. date1904 selects the 1904 date system for
  // date/time sections (in which a negative serial shows as '-' and its size; the 1900
  // system shows kHashFillLength '#' instead, except in a section whose only codes are
  // elapsed counts such as "[h]", which shows '-' and the size there too). A value that
  // is not finite appends "#NUM!".
  void render(double value, bool date1904, std::string& out) const;
  std::string render(double value, bool date1904 = false) const;

  // Appends the text shown for a text cell: through the text section (the fourth
  // section, or the section holding '@'); without a text section the text itself.
  void render_text(std::string_view text, std::string& out) const;

  ~Format();
  Format(const Format&) = delete;
  Format& operator=(const Format&) = delete;

 private:
  Format();
  std::unique_ptr<FormatImpl> impl_;
};

// The General format (appends): at most 11 characters besides the sign; whole
// numbers of up to 11 digits in full, others with up to 10 significant digits, very
// large and very small ones in scientific notation (1.23457E+11).
void format_general(double value, std::string& out);

}  // namespace sheets::numfmt
