// Decimal digits of a value and the General format.
#include <charconv>
#include <cmath>
#include <cstdint>

#include "sheets/numfmt/numfmt_impl.h"

namespace sheets::numfmt {

namespace {

// The application works with 15 significant decimal digits.
constexpr int kSignificantDigits = 15;
// General shows at most this many characters besides the sign.
constexpr int kGeneralWidth = 11;

void append_exponent(int e, std::string& out) {
  out += 'E';
  out += e < 0 ? '-' : '+';
  unsigned u = static_cast<unsigned>(e < 0 ? -e : e);
  char buf[8];
  int k = 0;
  do {
    buf[k++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (k < 2) buf[k++] = '0';
  while (k > 0) out += buf[--k];
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};  // all exact

void set_digits(std::uint64_t m, int k, Decimal& x) {
  char buf[24];
  int len = 0;
  while (m != 0) {
    buf[len++] = static_cast<char>('0' + m % 10);
    m /= 10;
  }
  int n = 0;
  for (int i = len - 1; i >= 0 && n < kSignificantDigits; --i) x.d[n++] = buf[i];
  while (n > 0 && x.d[n - 1] == '0') --n;
  x.n = n;
  x.point = len - k;
}

// The 15 significant digits by one multiplication by an exact power of ten. The
// product is off by less than 0.12 from the exact one, so its rounding to a whole
// number is the exact rounding unless it lies near a half; then (and outside the
// range of exact powers) the caller takes the slow exact path.
bool fast_decimal(double a, Decimal& x) {
  int e2 = 0;
  std::frexp(a, &e2);
  int k = kSignificantDigits - 1 - static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
  if (k < 0 || k > 22) return false;
  double p = a * kPow10[k];
  if (p < 1e14) {
    if (++k > 22) return false;
    p = a * kPow10[k];
  } else if (p >= 1e15) {
    if (--k < 0) return false;
    p = a * kPow10[k];
  }
  if (p < 1e14 || p >= 1e15) return false;
  const double whole = std::floor(p);
  const double frac = p - whole;
  if (frac > 0.25 && frac < 0.75) return false;
  set_digits(static_cast<std::uint64_t>(whole) + (frac >= 0.5 ? 1 : 0), k, x);
  return true;
}

}  // namespace

Decimal to_decimal(double a) {
  Decimal x;
  if (!(a > 0) || !std::isfinite(a)) return x;
  char buf[40];
  // Whole numbers below 10^15 are exact: their digits come without rounding.
  if (a < 1e15 && a == std::floor(a)) {
    auto v = static_cast<std::uint64_t>(a);
    int k = 0;
    while (v != 0) {
      buf[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    x.point = k;
    int n = 0;
    for (int i = k - 1; i >= 0; --i) x.d[n++] = buf[i];
    while (n > 0 && x.d[n - 1] == '0') --n;
    x.n = n;
    return x;
  }
  if (fast_decimal(a, x)) return x;
  auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific,
                           kSignificantDigits - 1);
  const char* p = buf;
  const char* end = res.ptr;
  int n = 0;
  while (p < end && *p != 'e') {
    if (*p != '.' && n < kSignificantDigits) x.d[n++] = *p;
    ++p;
  }
  int e = 0;
  if (p < end) {
    ++p;  // 'e'
    bool neg = *p == '-';
    ++p;
    while (p < end) e = e * 10 + (*p++ - '0');
    if (neg) e = -e;
  }
  while (n > 0 && x.d[n - 1] == '0') --n;
  x.n = n;
  x.point = e + 1;
  return x;
}

void Decimal::round_decimals(int decimals) {
  int cut = point + decimals;  // digits kept
  if (cut >= n) return;
  if (cut < 0) {
    n = 0;
    point = 0;
    return;
  }
  bool up = d[cut] >= '5';
  n = cut;
  if (up) {
    int i = n - 1;
    while (i >= 0 && d[i] == '9') --i;
    if (i < 0) {
      d[0] = '1';
      n = 1;
      point += 1;
      return;
    }
    d[i] = static_cast<char>(d[i] + 1);
    n = i + 1;
  }
  while (n > 0 && d[n - 1] == '0') --n;
  if (n == 0) point = 0;
}

void Decimal::round_significant(int sig) { round_decimals(sig - point); }

void format_general(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out += "#NUM!";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  if (value < 0) out += '-';
  const Decimal x = to_decimal(std::fabs(value));
  const int e = x.point - 1;

  // Plain decimal form: as many decimals as fit in the width.
  Decimal dec = x;
  bool dec_ok = false, dec_exact = false;
  int dec_room = 0;  // significant digits the decimal form has room for
  if (e <= kGeneralWidth - 1 && e >= -(kGeneralWidth - 1)) {
    int decimals = e >= 0 ? (kGeneralWidth - 2 - e > 0 ? kGeneralWidth - 2 - e : 0)
                          : kGeneralWidth - 2;
    dec_exact = x.n - x.point <= decimals;
    dec.round_decimals(decimals);
    dec_ok = !dec.zero() && dec.point <= kGeneralWidth;
    dec_room = decimals + dec.point;
  }
  // Scientific form: d.dddddE+xx within the width.
  Decimal sci = x;
  int sig = (e >= 100 || e <= -100) ? kGeneralWidth - 6 : kGeneralWidth - 5;
  sci.round_significant(sig);
  // The decimal form wins when it shows the value in full, or when it has room for at
  // least as many significant digits as the scientific one and shows at least as many
  // of them. Counting the room, not only the digits left after rounding, matters for
  // small values: 1.0000000000167E-05 shows as 1E-05 (its decimal form 0.000010000 has
  // room for five digits, the scientific one for six), 0.00001 itself as 0.00001.
  if (dec_ok && (dec_exact || (dec_room >= sig && dec.n >= sci.n))) {
    if (dec.point <= 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-dec.point), '0');
      out.append(dec.d, static_cast<std::size_t>(dec.n));
    } else {
      for (int i = 0; i < dec.point; ++i) out += dec.digit(i);
      if (dec.n > dec.point) {
        out += '.';
        out.append(dec.d + dec.point, static_cast<std::size_t>(dec.n - dec.point));
      }
    }
    return;
  }
  out += sci.d[0];
  if (sci.n > 1) {
    out += '.';
    out.append(sci.d + 1, static_cast<std::size_t>(sci.n - 1));
  }
  append_exponent(sci.point - 1, out);
}

}  // namespace sheets::numfmt
