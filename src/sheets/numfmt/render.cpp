// Rendering of numbers and texts through a compiled format.
#include <cmath>
#include <cstdint>

#include "sheets/numfmt/numfmt_impl.h"

namespace sheets::numfmt {

namespace {

// Digits of a whole number, most significant first; positions past n are zeros.
struct IntDigits {
  const char* d = nullptr;
  int n = 0;    // significant digits held
  int len = 0;  // digits of the number (0 for zero)
  char at(int i) const { return i < n ? d[i] : '0'; }
};

IntDigits int_digits_of(const Decimal& x) {
  IntDigits r;
  r.d = x.d;
  r.n = x.n;
  r.len = x.zero() ? 0 : (x.point > 0 ? x.point : 0);
  return r;
}

// Writes v in decimal into buf (at least 40 bytes); returns the digits (none for 0).
IntDigits int_digits_of(unsigned __int128 v, char* buf) {
  char tmp[48];
  int k = 0;
  while (v != 0) {
    tmp[k++] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  }
  for (int i = 0; i < k; ++i) buf[i] = tmp[k - 1 - i];
  IntDigits r;
  r.d = buf;
  r.n = k;
  r.len = k;
  return r;
}

// One placeholder of a group aligned on the right (integer part, numerator,
// exponent). The leftmost placeholder also shows the digits that do not fit.
void put_right_aligned(char ph, int pos, int count, const IntDigits& D, bool grouping,
                       bool& emitted, std::string& out) {
  if (pos == count - 1) {
    for (int q = D.len - 1; q >= count; --q) {
      out += D.at(D.len - 1 - q);
      emitted = true;
      if (grouping && q % 3 == 0) out += ',';
    }
  }
  if (pos < D.len) {
    out += D.at(D.len - 1 - pos);
    emitted = true;
  } else if (ph == '0') {
    out += '0';
    emitted = true;
  } else if (ph == '?') {
    out += ' ';
  }
  if (grouping && pos > 0 && pos % 3 == 0 && emitted) out += ',';
}

void append_all_int(const IntDigits& D, bool grouping, std::string& out) {
  for (int q = D.len - 1; q >= 0; --q) {
    out += D.at(D.len - 1 - q);
    if (grouping && q > 0 && q % 3 == 0) out += ',';
  }
}

void append_literal(const Section& s, const Token& t, std::string& out) {
  out.append(s.lits, t.a, t.b);
}

// Number of characters (code points) of a literal, for blanking it.
std::size_t literal_width(const Section& s, const Token& t) {
  std::size_t w = 0;
  for (std::uint32_t k = 0; k < t.b; ++k)
    if ((static_cast<unsigned char>(s.lits[t.a + k]) & 0xC0) != 0x80) ++w;
  return w;
}

Decimal scaled_decimal(const Section& s, double a) {
  Decimal x = to_decimal(a);
  if (!x.zero()) x.point += s.scale10;
  return x;
}

// Index of the last decimal that the digits hold, -1 when there is none.
int last_decimal(const Decimal& x) { return x.n > x.point ? x.n - x.point - 1 : -1; }

// One placeholder of the fraction part: "0" always shows its digit, "#" and "?"
// only up to the last decimal held, and "?" shows a blank beyond it.
void put_frac_digit(const Token& t, const Decimal& x, int last_nz, std::string& out) {
  const int i = static_cast<int>(t.a);
  if (t.ch == '0' || i <= last_nz)
    out += x.digit(x.point + i);
  else if (t.ch == '?')
    out += ' ';
}

void render_plain(const Section& s, double a, double signed_value, bool general_signed,
                  std::string& out) {
  Decimal x = scaled_decimal(s, a);
  x.round_decimals(s.frac_count);
  const IntDigits D = int_digits_of(x);
  const int last_nz = last_decimal(x);
  bool emitted = false;
  for (const Token& t : s.toks) {
    switch (t.kind) {
      case Tok::Literal:
        append_literal(s, t, out);
        break;
      case Tok::Digit:
        if (t.role == Role::Int) {
          put_right_aligned(t.ch, static_cast<int>(t.a), s.int_count, D, s.grouping, emitted,
                            out);
        } else if (t.role == Role::Frac) {
          put_frac_digit(t, x, last_nz, out);
        }
        break;
      case Tok::Point:
        if (s.int_count == 0) append_all_int(D, s.grouping, out);
        out += '.';
        break;
      case Tok::General:
        format_general(general_signed ? signed_value : a, out);
        break;
      default:
        break;
    }
  }
}

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int display_exponent(const Section& s, int e) {
  if (s.engineering) return floor_div(e, s.int_count) * s.int_count;
  if (s.int_count == 0) return e + 1;
  return e - (s.int_count - 1);
}

void render_exponent(const Section& s, double a, double signed_value, bool general_signed,
                     std::string& out) {
  const Decimal x = scaled_decimal(s, a);
  Decimal m = x;
  int E = 0;
  if (!x.zero()) {
    const int e = x.point - 1;
    E = display_exponent(s, e);
    m.point -= E;
    m.round_decimals(s.frac_count);
    if (!m.zero()) {
      const int e2 = m.point - 1 + E;
      if (e2 != e) {
        // Rounding carried into a new power of ten: m is exactly 10^k.
        const int E2 = display_exponent(s, e2);
        m.point += E - E2;
        E = E2;
      }
    }
  }
  const IntDigits D = int_digits_of(m);
  const int last_nz = last_decimal(m);
  char ebuf[48];
  const IntDigits X = int_digits_of(static_cast<unsigned __int128>(E < 0 ? -E : E), ebuf);
  bool emitted = false, emitted_exp = false;
  for (const Token& t : s.toks) {
    switch (t.kind) {
      case Tok::Literal:
        append_literal(s, t, out);
        break;
      case Tok::Digit:
        if (t.role == Role::Int) {
          put_right_aligned(t.ch, static_cast<int>(t.a), s.int_count, D, false, emitted, out);
        } else if (t.role == Role::Frac) {
          put_frac_digit(t, m, last_nz, out);
        } else if (t.role == Role::Exp) {
          // The exponent shows at least one digit.
          put_right_aligned(t.a == 0 && X.len == 0 ? '0' : t.ch, static_cast<int>(t.a),
                            s.exp_count, X, false, emitted_exp, out);
        }
        break;
      case Tok::Point:
        if (s.int_count == 0) append_all_int(D, false, out);
        out += '.';
        break;
      case Tok::Exp:
        out += 'E';  // shown in capitals whichever way the code writes it
        if (E < 0)
          out += '-';
        else if (s.exp_plus)
          out += '+';
        if (s.exp_count == 0) append_all_int(X.len ? X : IntDigits{"0", 1, 1}, false, out);
        break;
      case Tok::General:
        format_general(general_signed ? signed_value : a, out);
        break;
      default:
        break;
    }
  }
}

// Fraction P/Q for x with Q <= maxden, the way the application finds it: the last
// continued-fraction convergent of x (the whole value) whose denominator fits.
void convergent_fraction(double x, double maxden, double& P, double& Q) {
  constexpr double kClose = 0.00000005;  // remainders below this end the expansion
  constexpr int kMaxTerms = 64;
  double B = x, P2 = 0, P1 = 1, Q2 = 1, Q1 = 0;
  P = 0;
  Q = 1;
  for (int k = 0; k < kMaxTerms && Q1 < maxden; ++k) {
    const double A = std::floor(B);
    P = A * P1 + P2;
    Q = A * Q1 + Q2;
    if (B - A < kClose) break;
    B = 1 / (B - A);
    P2 = P1;
    P1 = P;
    Q2 = Q1;
    Q1 = Q;
  }
  if (Q > maxden) {
    if (Q1 > maxden) {
      Q = Q2;
      P = P2;
    } else {
      Q = Q1;
      P = P1;
    }
  }
}

void render_fraction(const Section& s, double a, double signed_value, bool general_signed,
                     std::string& out) {
  if (s.scale10 != 0) a *= std::pow(10.0, s.scale10);
  constexpr double kExactLimit = 9007199254740992.0;  // 2^53: no fractional part above
  std::uint64_t maxden = 1;
  for (int k = 0; k < s.den_count && k < kMaxFractionDenominatorDigits; ++k) maxden *= 10;
  maxden = maxden > 1 ? maxden - 1 : 1;

  Decimal big;  // whole part of values too large for exact integer arithmetic
  const bool use_big = !(a < kExactLimit);
  unsigned __int128 whole = 0;
  unsigned __int128 total = 0;  // numerator of the improper fraction
  std::uint64_t p = 0, q = 1;
  if (use_big) {
    big = to_decimal(a);
    big.round_decimals(0);
    q = s.fixed_den ? s.fixed_den : 1;
  } else if (s.fixed_den) {
    q = s.fixed_den;
    const double rr = std::floor(a * static_cast<double>(q) + 0.5);
    const double base = std::floor(rr / static_cast<double>(q));
    whole = static_cast<unsigned __int128>(base);
    p = static_cast<std::uint64_t>(rr - base * static_cast<double>(q));
    total = static_cast<unsigned __int128>(rr);
  } else {
    double P = 0, Q = 1;
    convergent_fraction(a, static_cast<double>(maxden), P, Q);
    if (!(Q >= 1)) Q = 1;
    q = static_cast<std::uint64_t>(Q);
    total = static_cast<unsigned __int128>(P);
    whole = total / q;
    p = static_cast<std::uint64_t>(total - whole * q);
  }
  char wbuf[48], nbuf[48], dbuf[48];
  IntDigits W, N;
  if (s.mixed) {
    W = use_big ? int_digits_of(big) : int_digits_of(whole, wbuf);
    N = int_digits_of(static_cast<unsigned __int128>(p), nbuf);
  } else {
    W = IntDigits{};
    if (use_big) {
      N = int_digits_of(big);  // denominator 1 (or the fixed one, times nothing)
    } else {
      N = int_digits_of(total, nbuf);
    }
    if (N.len == 0) N = IntDigits{"0", 1, 1};
  }
  const IntDigits Q = int_digits_of(static_cast<unsigned __int128>(q), dbuf);
  const bool blank = s.mixed && p == 0;
  const bool show_zero = s.mixed && W.len == 0 && p == 0;
  bool emitted = false, emitted_num = false;
  for (std::size_t i = 0; i < s.toks.size(); ++i) {
    const Token& t = s.toks[i];
    const bool in_fraction = i >= s.num_first && i <= s.den_last;
    switch (t.kind) {
      case Tok::Literal:
        if (blank && in_fraction && i > s.num_first)
          out.append(literal_width(s, t), ' ');
        else
          append_literal(s, t, out);
        break;
      case Tok::Digit:
        if (t.role == Role::Int) {
          if (show_zero && t.a == 0)
            out += '0';
          else
            put_right_aligned(t.ch, static_cast<int>(t.a), s.int_count, W, s.grouping, emitted,
                              out);
        } else if (t.role == Role::Num) {
          if (blank)
            out += ' ';
          else
            put_right_aligned(t.ch, static_cast<int>(t.a), s.num_count, N, false, emitted_num,
                              out);
        } else if (t.role == Role::Den) {
          const int k = static_cast<int>(t.a);
          if (blank) {
            out += ' ';
          } else if (k < Q.len) {
            if (k == s.den_count - 1)
              out.append(Q.d + k, static_cast<std::size_t>(Q.len - k));
            else
              out += Q.d[k];
          } else if (t.ch != '#') {
            out += ' ';
          }
        }
        break;
      case Tok::Slash:
        out += blank ? ' ' : '/';
        break;
      case Tok::FixedDen:
        if (blank)
          out.append(t.b, ' ');
        else
          append_literal(s, t, out);
        break;
      case Tok::General:
        format_general(general_signed ? signed_value : a, out);
        break;
      default:
        break;
    }
  }
}

}  // namespace

void append_hashes(std::string& out) { out.append(kHashFillLength, '#'); }

void render_number_section(const Section& s, double value, bool negative_prefix,
                           bool general_signed, std::string& out) {
  const double a = std::fabs(value);
  if (negative_prefix) out += '-';
  if (s.is_fraction)
    render_fraction(s, a, value, general_signed, out);
  else if (s.is_exp)
    render_exponent(s, a, value, general_signed, out);
  else
    render_plain(s, a, value, general_signed, out);
}

Format::Format() : impl_(std::make_unique<FormatImpl>()) {}
Format::~Format() = default;

std::shared_ptr<const Format> Format::parse(std::string_view code) {
  std::shared_ptr<Format> f(new Format());
  parse_format(code, *f->impl_);
  return f;
}

bool Format::has_error() const { return impl_->error; }
bool Format::is_date() const { return impl_->date; }
bool Format::is_general() const { return impl_->general; }

std::string Format::render(double value, bool date1904) const {
  std::string out;
  render(value, date1904, out);
  return out;
}

namespace {

bool matches(const Section& s, double v) {
  switch (s.op) {
    case CondOp::Eq: return v == s.limit;
    case CondOp::Ne: return v != s.limit;
    case CondOp::Lt: return v < s.limit;
    case CondOp::Le: return v <= s.limit;
    case CondOp::Gt: return v > s.limit;
    case CondOp::Ge: return v >= s.limit;
    case CondOp::None: return true;
  }
  return true;
}

// A section for the numbers below zero ([<0], [<=0]) shows their size without a sign,
// like the usual negative section. Other limits keep the sign.
bool negative_section(const Section& s) {
  return (s.op == CondOp::Lt || s.op == CondOp::Le) && s.limit == 0;
}

}  // namespace

void Format::render(double value, bool date1904, std::string& out) const {
  const FormatImpl& f = *impl_;
  if (!std::isfinite(value)) {
    out += "#NUM!";
    return;
  }
  if (value == 0) value = 0;  // no negative zero
  if (f.general) {
    format_general(value, out);
    return;
  }
  const int n = f.number_count;
  int idx = 0;
  // How the sign shows: a '-' in front (prefix), or not at all (the section stands for
  // negative numbers); a General inside the usual negative section keeps its sign.
  bool prefix = false, general_signed = false, absolute = false;
  if (!f.conditional) {
    if (n == 1 || value > 0 || (n == 2 && value == 0)) {
      idx = 0;
    } else if (value < 0) {
      idx = 1;
    } else {
      idx = 2;
    }
    if (value < 0) {
      if (idx == 0) {
        prefix = true;
      } else {
        absolute = true;
        general_signed = true;
      }
    }
  } else {
    const Section& s0 = f.sections[0];
    bool m0 = s0.op != CondOp::None ? matches(s0, value)
                                     : (n == 1 || (n == 2 ? value >= 0 : value > 0));
    if (m0) {
      idx = 0;
    } else if (n >= 2) {
      const Section& s1 = f.sections[1];
      bool m1 = s1.op != CondOp::None ? matches(s1, value) : (n == 2 || value < 0);
      idx = m1 ? 1 : (n >= 3 ? 2 : 1);
    } else {
      format_general(value, out);
      return;
    }
    if (value < 0) {
      const Section& s = f.sections[static_cast<std::size_t>(idx)];
      bool implicit_negative = idx == 1 && s.op == CondOp::None &&
                               (s0.op == CondOp::Gt || s0.op == CondOp::Ge) && s0.limit >= 0;
      if (negative_section(s) || implicit_negative)
        absolute = true;
      else
        prefix = true;
    }
  }
  const Section& s = f.sections[static_cast<std::size_t>(idx)];
  switch (s.kind) {
    case SectionKind::Empty:
    case SectionKind::Text:
      return;
    case SectionKind::General:
      format_general(absolute && !general_signed ? std::fabs(value) : value, out);
      return;
    case SectionKind::Date:
      render_date_section(s, absolute ? std::fabs(value) : value, date1904, out);
      return;
    case SectionKind::Number:
      render_number_section(s, value, prefix, general_signed, out);
      return;
  }
}

void Format::render_text(std::string_view text, std::string& out) const {
  const FormatImpl& f = *impl_;
  if (f.error || f.text_index < 0) {
    out.append(text);
    return;
  }
  // An empty text stays empty.
  if (text.empty()) return;
  const Section& s = f.sections[static_cast<std::size_t>(f.text_index)];
  for (const Token& t : s.toks) {
    if (t.kind == Tok::Literal)
      append_literal(s, t, out);
    else if (t.kind == Tok::Text || t.kind == Tok::General)
      out.append(text);
  }
}

}  // namespace sheets::numfmt
