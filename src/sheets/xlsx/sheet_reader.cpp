#include "sheets/xlsx/sheet_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/text.h"
#include "sheets/xlsx/package.h"
#include "sheets/zip/zip.h"

namespace sheets::xlsx {
namespace {

inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool name_end(char c) { return is_space(c) || c == '/' || c == '>'; }

std::string_view local(std::string_view n) {
  std::size_t p = n.rfind(':');
  return p == std::string_view::npos ? n : n.substr(p + 1);
}

// Appends XML character data with its references decoded and its line ends
// normalised.
void decode_xml(const char* b, const char* e, std::string& out) {
  while (b < e) {
    const char* amp = b;
    while (amp < e && *amp != '&' && *amp != '\r') ++amp;
    out.append(b, static_cast<std::size_t>(amp - b));
    if (amp >= e) return;
    if (*amp == '\r') {
      out += '\n';
      b = amp + 1;
      if (b < e && *b == '\n') ++b;
      continue;
    }
    const char* semi = static_cast<const char*>(std::memchr(amp, ';', static_cast<std::size_t>(std::min<std::ptrdiff_t>(e - amp, 12))));
    if (!semi) {
      out += '&';
      b = amp + 1;
      continue;
    }
    std::string_view ent(amp + 1, static_cast<std::size_t>(semi - amp - 1));
    if (ent == "lt") out += '<';
    else if (ent == "gt") out += '>';
    else if (ent == "amp") out += '&';
    else if (ent == "quot") out += '"';
    else if (ent == "apos") out += '\'';
    else if (ent.size() > 1 && ent[0] == '#') {
      unsigned long code = 0;
      std::from_chars_result r{};
      if (ent[1] == 'x' || ent[1] == 'X') r = std::from_chars(ent.data() + 2, ent.data() + ent.size(), code, 16);
      else r = std::from_chars(ent.data() + 1, ent.data() + ent.size(), code, 10);
      if (r.ec != std::errc() || r.ptr != ent.data() + ent.size() || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
      platform::text::append_utf8(out, static_cast<char32_t>(code));
    } else {
      out.append(amp, static_cast<std::size_t>(semi - amp + 1));
    }
    b = semi + 1;
  }
}

bool parse_uint(std::string_view s, std::uint64_t& v) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parse_double(std::string_view s, double& v) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

bool parse_ref(std::string_view ref, std::uint32_t& col, std::uint32_t& row) {
  std::size_t i = 0;
  std::uint64_t c = 0;
  while (i < ref.size() && i < 4) {
    char ch = ref[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (ch < 'A' || ch > 'Z') break;
    c = c * 26 + static_cast<std::uint64_t>(ch - 'A' + 1);
    ++i;
  }
  if (i == 0 || c > kMaxColumns) return false;
  std::uint64_t r = 0;
  std::size_t digits = 0;
  while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9' && digits < 8) {
    r = r * 10 + static_cast<std::uint64_t>(ref[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || i != ref.size() || r == 0 || r > kMaxRows) return false;
  col = static_cast<std::uint32_t>(c - 1);
  row = static_cast<std::uint32_t>(r - 1);
  return true;
}

bool iso_to_serial(std::string_view s, bool date1904, double& serial) {
  auto num = [&](std::size_t pos, std::size_t len, int& out) {
    if (pos + len > s.size()) return false;
    out = 0;
    for (std::size_t i = pos; i < pos + len; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  double frac = 0;
  std::size_t p = 0;
  bool has_date = false;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) return false;
    has_date = true;
    p = 10;
  }
  if (p < s.size() && (s[p] == 'T' || s[p] == ' ')) ++p;
  if (p < s.size() && s[p] != 'Z') {
    if (!num(p, 2, h) || p + 2 >= s.size() || s[p + 2] != ':' || !num(p + 3, 2, mi)) return false;
    p += 5;
    if (p < s.size() && s[p] == ':') {
      if (!num(p + 1, 2, sec)) return false;
      p += 3;
      if (p < s.size() && s[p] == '.') {
        std::size_t q = p + 1;
        double scale = 0.1;
        while (q < s.size() && s[q] >= '0' && s[q] <= '9') {
          frac += (s[q] - '0') * scale;
          scale /= 10;
          ++q;
        }
        p = q;
      }
    }
    if (h > 24 || mi > 59 || sec > 59) return false;
  }
  if (p < s.size() && s[p] == 'Z') ++p;
  if (p != s.size() || (!has_date && p == 0)) return false;
  double days = 0;
  if (has_date) {
    std::int64_t dn = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    if (date1904) {
      days = static_cast<double>(dn - days_from_civil(1904, 1, 1));
    } else {
      days = static_cast<double>(dn - days_from_civil(1899, 12, 30));
      if (days < 61) days -= 1;  // the 1900 system counts a 29 February 1900
      if (days < 0) days = static_cast<double>(dn - days_from_civil(1899, 12, 31));
    }
  }
  serial = days + (h * 3600.0 + mi * 60.0 + sec + frac) / 86400.0;
  return true;
}

namespace {

struct Cursor {
  const char* p;
  const char* e;
};

}  // namespace

namespace {

// Helpers that throw NeedMore when the element runs past the data.

template <class NeedMoreT>
const char* find(const char* p, const char* e, char c) {
  const void* q = std::memchr(p, c, static_cast<std::size_t>(e - p));
  if (!q) throw NeedMoreT{};
  return static_cast<const char*>(q);
}

template <class NeedMoreT>
const char* find_str(const char* p, const char* e, std::string_view s) {
  while (true) {
    const char* q = find<NeedMoreT>(p, e, s[0]);
    if (static_cast<std::size_t>(e - q) < s.size()) throw NeedMoreT{};
    if (std::memcmp(q, s.data(), s.size()) == 0) return q;
    p = q + 1;
  }
}

// Reads a tag name starting at p (just after '<' or "</"); returns its end.
template <class NeedMoreT>
const char* tag_name(const char* p, const char* e, std::string_view& name) {
  const char* q = p;
  while (q < e && !name_end(*q)) ++q;
  if (q >= e) throw NeedMoreT{};
  name = local(std::string_view(p, static_cast<std::size_t>(q - p)));
  return q;
}

// Walks the attributes from p to the end of the start tag; calls f(name, value)
// for each. Returns the position after '>' and tells whether the tag closed itself.
template <class NeedMoreT, class F>
const char* attributes(const char* p, const char* e, bool& self_closing, F&& f) {
  while (true) {
    while (p < e && is_space(*p)) ++p;
    if (p >= e) throw NeedMoreT{};
    if (*p == '>') {
      self_closing = false;
      return p + 1;
    }
    if (*p == '/') {
      if (p + 1 >= e) throw NeedMoreT{};
      if (p[1] == '>') {
        self_closing = true;
        return p + 2;
      }
      ++p;
      continue;
    }
    const char* n = p;
    while (p < e && *p != '=' && !is_space(*p) && *p != '>' && *p != '/') ++p;
    if (p >= e) throw NeedMoreT{};
    std::string_view name(n, static_cast<std::size_t>(p - n));
    while (p < e && is_space(*p)) ++p;
    if (p >= e) throw NeedMoreT{};
    if (*p != '=') continue;  // malformed: an attribute without value
    ++p;
    while (p < e && is_space(*p)) ++p;
    if (p >= e) throw NeedMoreT{};
    char q = *p;
    if (q != '"' && q != '\'') continue;
    const char* v = p + 1;
    const char* ve = find<NeedMoreT>(v, e, q);
    f(local(name), std::string_view(v, static_cast<std::size_t>(ve - v)));
    p = ve + 1;
  }
}

template <class NeedMoreT>
const char* skip_attrs(const char* p, const char* e, bool& self_closing) {
  return attributes<NeedMoreT>(p, e, self_closing, [](std::string_view, std::string_view) {});
}

// Skips a comment, processing instruction, CDATA or declaration at p ('<' then '!' or '?').
template <class NeedMoreT>
const char* skip_special(const char* p, const char* e) {
  if (e - p < 4) throw NeedMoreT{};
  if (p[1] == '?') return find_str<NeedMoreT>(p + 2, e, "?>") + 2;
  if (std::memcmp(p, "<!--", 4) == 0) return find_str<NeedMoreT>(p + 4, e, "-->") + 3;
  if (e - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) return find_str<NeedMoreT>(p + 9, e, "]]>") + 3;
  return find<NeedMoreT>(p + 2, e, '>') + 1;
}

enum class TagKind { Start, End, Other };

// One step of a tag loop, with p at a '<'. An end tag is read past its '>'; a
// comment, processing instruction, CDATA section or declaration is skipped whole
// (Other); of a start tag only the name is read, and p is left just after it for
// the attributes. Moves p past what was read; sets name for a start or end tag.
template <class NeedMoreT>
inline TagKind next_tag(const char*& p, const char* e, std::string_view& name) {
  if (e - p < 2) throw NeedMoreT{};
  if (p[1] == '/') {
    p = find<NeedMoreT>(tag_name<NeedMoreT>(p + 2, e, name), e, '>') + 1;
    return TagKind::End;
  }
  if (p[1] == '!' || p[1] == '?') {
    p = skip_special<NeedMoreT>(p, e);
    return TagKind::Other;
  }
  p = tag_name<NeedMoreT>(p + 1, e, name);
  return TagKind::Start;
}

// Steps to the next child of an element whose end tag is named end: true with p
// just after the child's start-tag name, false with p past that end tag.
template <class NeedMoreT>
inline bool next_child(const char*& p, const char* e, std::string_view end, std::string_view& name) {
  while (true) {
    p = find<NeedMoreT>(p, e, '<');
    const TagKind kind = next_tag<NeedMoreT>(p, e, name);
    if (kind == TagKind::Start) return true;
    if (kind == TagKind::End && name == end) return false;
  }
}

}  // namespace

std::size_t SheetScanner::feed(const char* data, std::size_t len, bool final) {
  if (len == 0) {
    if (final && in_data_) throw Error("the sheet data is truncated or damaged");
    return 0;
  }
  const char* p = data;
  const char* e = data + len;
  std::size_t consumed = 0;
  try {
    while (true) {
      const char* q = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(e - p)));
      if (!q) {
        if (final && in_data_) throw Error("the sheet data is truncated or damaged");
        return len;
      }
      p = q;
      consumed = static_cast<std::size_t>(p - data);
      std::string_view name;
      const TagKind kind = next_tag<NeedMore>(p, e, name);
      if (kind != TagKind::Start) {
        if (kind == TagKind::End && name == "sheetData") {
          in_data_ = false;
          data_done_ = true;
        }
        continue;
      }
      if (in_data_ && name == "row") {
        p = scan_row(p, e);
      } else if (name == "mergeCell") {
        Range r;
        bool ok = false;
        bool sc = false;
        p = attributes<NeedMore>(p, e, sc, [&](std::string_view an, std::string_view v) {
          if (an != "ref") return;
          std::size_t colon = v.find(':');
          std::string_view a = v.substr(0, colon), b = colon == std::string_view::npos ? v : v.substr(colon + 1);
          ok = parse_ref(a, r.c1, r.r1) && parse_ref(b, r.c2, r.r2);
        });
        if (ok) {
          if (r.r1 > r.r2) std::swap(r.r1, r.r2);
          if (r.c1 > r.c2) std::swap(r.c1, r.c2);
          sink_.merge(r);
        }
      } else if (name == "col") {
        std::uint64_t mn = 0, mx = 0, st = 0;
        bool hidden = false;
        bool sc = false;
        p = attributes<NeedMore>(p, e, sc, [&](std::string_view an, std::string_view v) {
          if (an == "min") parse_uint(v, mn);
          else if (an == "max") parse_uint(v, mx);
          else if (an == "style") parse_uint(v, st);
          else if (an == "hidden") hidden = v == "1" || v == "true";
        });
        if (mn >= 1 && mx >= mn && mx <= kMaxColumns && st <= 0xFFFFFFFFu && (st > 0 || hidden))
          sink_.column_style(static_cast<std::uint32_t>(mn - 1), static_cast<std::uint32_t>(mx - 1),
                             static_cast<std::uint32_t>(st), hidden);
      } else {
        bool sc = false;
        p = skip_attrs<NeedMore>(p, e, sc);
        if (name == "sheetData" && !sc && !data_done_) in_data_ = true;
      }
    }
  } catch (const NeedMore&) {
    if (final) throw Error("the sheet data is truncated or damaged");
    return consumed;
  }
}

const char* SheetScanner::scan_row(const char* p, const char* e) {
  std::uint64_t r = 0, style = 0;
  bool has_r = false, bad_r = false, custom = false, own = false;
  bool sc = false;
  p = attributes<NeedMore>(p, e, sc, [&](std::string_view an, std::string_view v) {
    if (an == "r") {
      has_r = true;
      bad_r = !parse_uint(v, r) || r == 0 || r > kMaxRows;
    } else if (an == "s") {
      if (!parse_uint(v, style) || style > 0xFFFFFFFFu) style = 0;
    } else if (an == "customFormat") {
      custom = v == "1" || v == "true";
    } else if (an == "customHeight" || an == "hidden") {
      if (v == "1" || v == "true") own = true;
    }
  });
  if (bad_r) throw Error("a row number of the sheet is out of range");
  std::int64_t index = has_r ? static_cast<std::int64_t>(r) - 1 : last_row_ + 1;
  if (index >= static_cast<std::int64_t>(kMaxRows)) throw Error("the sheet has more rows than allowed");
  if (index <= last_row_) throw Error("the rows of the sheet are out of order");
  row_.index = static_cast<std::uint32_t>(index);
  row_.style = custom ? static_cast<std::uint32_t>(style) : 0;
  row_.custom = own || row_.style != 0;
  row_.cells.clear();
  row_.text.clear();
  last_col_ = -1;
  if (!sc) {
    std::string_view name;
    while (next_child<NeedMore>(p, e, "row", name)) {
      if (name == "c") {
        p = scan_cell(p, e);
      } else {
        bool s2 = false;
        p = skip_attrs<NeedMore>(p, e, s2);
      }
    }
  }
  last_row_ = index;
  sink_.row(row_);
  return p;
}

const char* SheetScanner::scan_inline(const char* p, const char* e, bool& closed) {
  int rph = 0;
  while (true) {
    p = find<NeedMore>(p, e, '<');
    std::string_view name;
    const TagKind kind = next_tag<NeedMore>(p, e, name);
    if (kind == TagKind::Other) continue;
    if (kind == TagKind::End) {
      if (name == "is") return p;
      if (name == "rPh" && rph > 0) --rph;
      if (name == "c") {  // malformed: the cell ended inside its string
        closed = true;
        return p;
      }
      continue;
    }
    bool sc = false;
    bool preserve = false;
    p = attributes<NeedMore>(p, e, sc, [&](std::string_view an, std::string_view v) {
      if (an == "space") preserve = v == "preserve";
    });
    if (sc) continue;
    if (name == "rPh") {
      ++rph;
    } else if (name == "t") {
      const char* t_end = find<NeedMore>(p, e, '<');
      if (rph == 0) {
        const char* b = p;
        const char* x = t_end;
        if (!preserve) {
          // Without xml:space="preserve" the blanks around the text are not part of it.
          while (b < x && is_space(*b)) ++b;
          while (x > b && is_space(x[-1])) --x;
        }
        decode_xml(b, x, scratch_);
      }
      p = t_end;
    }
  }
}

const char* SheetScanner::scan_cell(const char* p, const char* e) {
  std::string_view ref, type;
  std::uint64_t style = 0;
  bool sc = false;
  p = attributes<NeedMore>(p, e, sc, [&](std::string_view an, std::string_view v) {
    if (an.size() != 1) return;
    if (an[0] == 'r') ref = v;
    else if (an[0] == 's') {
      if (!parse_uint(v, style) || style > 0xFFFFFFFFu) style = 0;
    } else if (an[0] == 't') type = v;
  });
  std::uint32_t col = 0, rowix = 0;
  if (!ref.empty()) {
    if (!parse_ref(ref, col, rowix)) throw Error("the sheet holds an invalid cell reference \"" + std::string(ref.substr(0, 32)) + "\"");
  } else {
    if (last_col_ + 1 >= static_cast<std::int64_t>(kMaxColumns)) throw Error("a row of the sheet has more cells than allowed");
    col = static_cast<std::uint32_t>(last_col_ + 1);
  }
  last_col_ = col;
  const char* v_begin = nullptr;
  const char* v_end = nullptr;
  bool has_inline = false;
  scratch_.clear();
  if (!sc) {
    std::string_view name;
    while (next_child<NeedMore>(p, e, "c", name)) {
      bool s2 = false;
      p = skip_attrs<NeedMore>(p, e, s2);
      if (s2) continue;
      if (name == "v") {
        v_begin = p;
        v_end = find<NeedMore>(p, e, '<');
        p = v_end;
      } else if (name == "f") {
        p = find<NeedMore>(p, e, '<');
      } else if (name == "is") {
        has_inline = true;
        bool closed = false;
        p = scan_inline(p, e, closed);
        if (closed) break;
      }
    }
  }
  Cell c;
  c.col = col;
  c.style = static_cast<std::uint32_t>(style);
  auto put_text = [&](CellType t, std::string_view raw, bool decoded) {
    c.type = t;
    c.text_begin = static_cast<std::uint32_t>(row_.text.size());
    std::size_t before = row_.text.size();
    if (decoded) {
      append_unescaped(row_.text, raw);
    } else {
      decoded_.clear();
      decode_xml(raw.data(), raw.data() + raw.size(), decoded_);
      append_unescaped(row_.text, decoded_);
    }
    if (row_.text.size() > kMaxElementBytes) throw Error("a row of the sheet holds more text than allowed");
    c.text_len = static_cast<std::uint32_t>(row_.text.size() - before);
  };
  std::string_view raw = v_begin ? std::string_view(v_begin, static_cast<std::size_t>(v_end - v_begin)) : std::string_view();
  if (type == "inlineStr" || (has_inline && !v_begin)) {
    if (has_inline) put_text(CellType::Text, scratch_, true);
  } else if (!v_begin) {
    c.type = CellType::Blank;
  } else if (type.empty() || type == "n") {
    if (parse_double(raw, c.number)) c.type = CellType::Number;
    else if (raw.find_first_not_of(" \t\r\n") == std::string_view::npos) c.type = CellType::Blank;  // an empty value
    else put_text(CellType::Text, raw, false);
  } else if (type == "s") {
    std::uint64_t ix = 0;
    if (!parse_uint(raw, ix) || ix > 0xFFFFFFFFu) throw Error("the sheet holds an invalid shared string index");
    c.type = CellType::SharedString;
    c.number = static_cast<double>(ix);
  } else if (type == "b") {
    std::string_view t = raw;
    while (!t.empty() && is_space(t.front())) t.remove_prefix(1);
    c.type = CellType::Bool;
    c.number = (!t.empty() && (t[0] == '1' || t[0] == 't')) ? 1 : 0;
  } else if (type == "e") {
    put_text(CellType::Error, raw, false);
  } else if (type == "d") {
    std::string iso;
    decode_xml(raw.data(), raw.data() + raw.size(), iso);
    if (iso_to_serial(iso, date1904_, c.number)) c.type = CellType::Number;
    else put_text(CellType::Text, iso, true);
  } else {  // "str" and anything unknown: text
    put_text(CellType::Text, raw, false);
  }
  row_.cells.push_back(c);
  return p;
}

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::uint64_t kThreadedFrom = 8u << 20;  // entries this large are inflated on a second thread
constexpr std::size_t kQueueDepth = 4;

// Inflates the entry on its own thread into a small queue of chunks.
class Prefetcher {
 public:
  explicit Prefetcher(zip::EntryReader& in) : in_(in) {
    thread_ = std::thread([this] { run(); });
  }
  ~Prefetcher() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  // Next chunk (empty at the end); rethrows the producer's failure.
  std::vector<char> next(std::vector<char> recycled) {
    std::unique_lock<std::mutex> l(m_);
    if (recycled.capacity() >= kChunk) free_.push_back(std::move(recycled));
    cv_.notify_all();
    cv_.wait(l, [&] { return !ready_.empty() || done_; });
    if (!ready_.empty()) {
      std::vector<char> c = std::move(ready_.front());
      ready_.pop_front();
      cv_.notify_all();
      return c;
    }
    if (error_) std::rethrow_exception(error_);
    return {};
  }

 private:
  void run() {
    try {
      while (true) {
        std::vector<char> buf;
        {
          std::unique_lock<std::mutex> l(m_);
          cv_.wait(l, [&] { return stop_ || ready_.size() < kQueueDepth; });
          if (stop_) return;
          if (!free_.empty()) {
            buf = std::move(free_.back());
            free_.pop_back();
          }
        }
        buf.resize(kChunk);
        std::size_t n = 0;
        while (n < kChunk) {
          std::size_t got = in_.read(buf.data() + n, kChunk - n);
          if (got == 0) break;
          n += got;
        }
        buf.resize(n);
        std::lock_guard<std::mutex> l(m_);
        if (n == 0) {
          done_ = true;
          cv_.notify_all();
          return;
        }
        ready_.push_back(std::move(buf));
        cv_.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> l(m_);
      error_ = std::current_exception();
      done_ = true;
      cv_.notify_all();
    }
  }

  zip::EntryReader& in_;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::vector<char>> ready_;
  std::vector<std::vector<char>> free_;
  bool stop_ = false, done_ = false;
  std::exception_ptr error_;
};

}  // namespace

void scan_sheet(zip::EntryReader& in, RowSink& sink, bool date1904) {
  SheetScanner scanner(sink, date1904);
  std::vector<char> buf;
  std::size_t have = 0;
  auto consume = [&](bool final) {
    std::size_t used = scanner.feed(buf.data(), have, final);
    if (used < have) std::memmove(buf.data(), buf.data() + used, have - used);
    have -= used;
    if (have > kMaxElementBytes) throw Error("an element of the sheet is larger than allowed");
  };
  if (in.size() >= kThreadedFrom) {
    Prefetcher pre(in);
    std::vector<char> chunk;
    while (true) {
      chunk = pre.next(std::move(chunk));
      if (chunk.empty()) break;
      if (buf.size() < have + chunk.size()) buf.resize(have + chunk.size());
      std::memcpy(buf.data() + have, chunk.data(), chunk.size());
      have += chunk.size();
      consume(false);
    }
    consume(true);
    return;
  }
  // Small sheets get a buffer of their own size: fresh memory is costly to touch.
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, in.size() + 1));
  while (true) {
    if (buf.size() - have < first / 4 + 1) buf.resize(std::max<std::size_t>(first, have + first));
    std::size_t n = in.read(buf.data() + have, buf.size() - have);
    if (n == 0) break;
    have += n;
    consume(false);
  }
  consume(true);
}

}  // namespace sheets::xlsx
