// Rendering of date and time sections from serial numbers.
#include <cmath>
#include <cstdint>

#include "sheets/numfmt/numfmt_impl.h"

namespace sheets::numfmt {

namespace {

// First serial past 9999-12-31 in each date system.
constexpr std::int64_t kSerialLimit1900 = 2958466;
constexpr std::int64_t kSerialLimit1904 = 2957004;
// Days from 1970-01-01 back to the epoch of each system (serial 0).
constexpr std::int64_t kEpochOffset1900 = 25569;  // serial 25569 is 1970-01-01
constexpr std::int64_t kEpochOffset1904 = 24107;
constexpr std::int64_t kSecondsPerDay = 86400;

constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

struct Civil {
  int y = 1900, m = 1, d = 0;
};

// Gregorian date of a day count from 1970-01-01.
Civil civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  Civil c;
  c.y = static_cast<int>(y + (m <= 2 ? 1 : 0));
  c.m = static_cast<int>(m);
  c.d = static_cast<int>(d);
  return c;
}

// Tabular Islamic (Hijri) date of a day count from 1970-01-01.
Civil hijri_from_days(std::int64_t z) {
  std::int64_t l = z + 2440588 - 1948439 + 10632;
  const std::int64_t n = (l - 1) / 10631;
  l = l - 10631 * n + 354;
  const std::int64_t j = ((10985 - l) / 5316) * ((50 * l) / 17719) + (l / 5670) * ((43 * l) / 15238);
  l = l - ((30 - j) / 15) * ((17719 * j) / 50) - (j / 16) * ((15238 * j) / 43) + 29;
  const std::int64_t m = (24 * l) / 709;
  Civil c;
  c.d = static_cast<int>(l - (709 * m) / 24);
  c.m = static_cast<int>(m);
  c.y = static_cast<int>(30 * n + j - 30);
  return c;
}

void append_num(std::int64_t v, int min_width, std::string& out) {
  char buf[24];
  int k = 0;
  std::uint64_t u = static_cast<std::uint64_t>(v < 0 ? -v : v);
  do {
    buf[k++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  while (k < min_width) buf[k++] = '0';
  while (k > 0) out += buf[--k];
}

}  // namespace

void render_date_section(const Section& s, double value, bool date1904, std::string& out) {
  const std::int64_t limit = date1904 ? kSerialLimit1904 : kSerialLimit1900;
  // The 1904 system shows a negative serial as its size after a minus sign (negative
  // times); the 1900 system cannot show it, except through a section made only of
  // elapsed counts ([h], [mm], [ss]), which shows a negative duration the same way:
  // [h] of -1.2 is -28.
  if ((date1904 || s.elapsed_only) && value < 0 && value > -static_cast<double>(limit)) {
    out += '-';
    value = -value;
  }
  if (!(value >= 0) || value >= static_cast<double>(limit)) {
    append_hashes(out);
    return;
  }
  // The time is rounded to the precision shown before it is split into fields.
  std::int64_t scale = 1;
  for (int k = 0; k < s.subsec; ++k) scale *= 10;
  const std::int64_t per_day = kSecondsPerDay * scale;
  const auto total = static_cast<std::int64_t>(std::floor(value * static_cast<double>(per_day) + 0.5));
  const std::int64_t days = total / per_day;
  if (days >= limit) {
    append_hashes(out);
    return;
  }
  const std::int64_t rem = total % per_day;
  const std::int64_t secs = rem / scale;
  const std::int64_t sub = rem % scale;
  const std::int64_t hour = secs / 3600, minute = secs / 60 % 60, second = secs % 60;

  Civil c;
  std::int64_t epoch_days;  // days from 1970-01-01
  int dow;                  // 0 = Sunday
  if (date1904) {
    epoch_days = days - kEpochOffset1904;
    c = civil_from_days(epoch_days);
    dow = static_cast<int>((days + 5) % 7);
  } else {
    // The 1900 system counts a 29 February 1900 (serial 60) and a day 0.
    epoch_days = days < 61 ? days - kEpochOffset1900 + 1 : days - kEpochOffset1900;
    if (days == 0) {
      c = Civil{1900, 1, 0};
    } else if (days == 60) {
      c = Civil{1900, 2, 29};
    } else {
      c = civil_from_days(epoch_days);
    }
    dow = static_cast<int>((days + 6) % 7);
  }
  if (s.hijri) c = hijri_from_days(epoch_days);

  for (const Token& t : s.toks) {
    switch (t.kind) {
      case Tok::Literal:
        out.append(s.lits, t.a, t.b);
        break;
      case Tok::Year:
        if (t.width <= 2)
          append_num(c.y % 100, 2, out);
        else
          append_num(c.y, 4, out);
        break;
      case Tok::Buddhist:
        if (t.width <= 2)
          append_num((c.y + 543) % 100, 2, out);
        else
          append_num(c.y + 543, 4, out);
        break;
      case Tok::EraYear:
        append_num(c.y, 1, out);
        break;
      case Tok::Month: {
        const char* name = kMonthNames[c.m >= 1 && c.m <= 12 ? c.m - 1 : 0];
        if (t.width <= 2)
          append_num(c.m, t.width, out);
        else if (t.width == 3)
          out.append(name, 3);
        else if (t.width == 5)
          out += name[0];
        else
          out += name;
        break;
      }
      case Tok::Day:
        if (t.width <= 2)
          append_num(c.d, t.width, out);
        else if (t.width == 3)
          out.append(kDayNames[dow], 3);
        else
          out += kDayNames[dow];
        break;
      case Tok::Hour: {
        std::int64_t h = hour;
        if (s.hour12) {
          h %= 12;
          if (h == 0) h = 12;
        }
        append_num(h, t.width, out);
        break;
      }
      case Tok::Minute:
        append_num(minute, t.width, out);
        break;
      case Tok::Second:
        append_num(second, t.width, out);
        break;
      case Tok::SubSecond: {
        out += '.';
        char buf[8];
        std::int64_t v = sub;
        for (int k = s.subsec - 1; k >= 0; --k) {
          buf[k] = static_cast<char>('0' + v % 10);
          v /= 10;
        }
        out.append(buf, t.width);
        break;
      }
      case Tok::AmPm:
        out += hour < 12 ? "AM" : "PM";
        break;
      case Tok::AP:
        out += s.lits[t.a + (hour < 12 ? 0 : 1)];
        break;
      case Tok::ElapsedH:
        append_num(total / (3600 * scale), t.width, out);
        break;
      case Tok::ElapsedM:
        append_num(total / (60 * scale), t.width, out);
        break;
      case Tok::ElapsedS:
        append_num(total / scale, t.width, out);
        break;
      default:
        break;
    }
  }
}

}  // namespace sheets::numfmt
