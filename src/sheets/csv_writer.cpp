#include "sheets/csv_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace sheets {
namespace {

void put_u32(std::string& s, std::uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  s.append(b, 4);
}

std::uint32_t get_u32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

constexpr char kQuoteTrigger[] = {',', '"', '\r', '\n', '\t'};

std::atomic<bool> g_short_year_dates{false};

}  // namespace

void testing::set_short_year_builtin_dates(bool on) { g_short_year_dates = on; }

void append_csv_field(std::string& out, std::string_view field) {
  bool quote = false;
  for (char c : field) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n' || c == '\t') {
      quote = true;
      break;
    }
  }
  (void)kQuoteTrigger;
  if (!quote) {
    out.append(field);
    return;
  }
  out += '"';
  std::size_t start = 0;
  while (true) {
    std::size_t q = field.find('"', start);
    if (q == std::string_view::npos) {
      out.append(field.substr(start));
      break;
    }
    out.append(field.substr(start, q + 1 - start));
    out += '"';
    start = q + 1;
  }
  out += '"';
}

const numfmt::Format* StyleFormats::get(std::uint32_t xf) {
  if (xf < known_.size() && known_[xf]) return by_xf_[xf];
  if (xf >= styles_.xf_numfmt.size()) return nullptr;  // unknown style: General
  if (known_.size() <= xf) {
    known_.resize(styles_.xf_numfmt.size(), false);
    by_xf_.resize(styles_.xf_numfmt.size(), nullptr);
  }
  int id = styles_.xf_numfmt[xf];
  const numfmt::Format* f = nullptr;
  auto it = by_id_.find(id);
  if (it != by_id_.end()) {
    f = it->second.get();
  } else {
    std::string_view code;
    auto c = styles_.custom.find(id);
    if (c != styles_.custom.end()) code = c->second;
    else if (g_short_year_dates && id == 14) code = "m/d/yy";
    else if (g_short_year_dates && id == 22) code = "m/d/yy h:mm";
    else code = numfmt::builtin_format(id);
    std::shared_ptr<const numfmt::Format> parsed;
    if (!code.empty()) {
      parsed = numfmt::Format::parse(code);
      if (parsed->is_general()) {
        // General numbers; keep it only when it has a text section of its own.
        std::string probe;
        parsed->render_text("x", probe);
        if (probe == "x") parsed.reset();
      }
    }
    by_id_[id] = parsed;
    f = parsed.get();
  }
  by_xf_[xf] = f;
  known_[xf] = true;
  return f;
}

CsvBuilder::CsvBuilder(const xlsx::SharedStrings& sst, StyleFormats& formats, bool date1904)
    : sst_(sst), formats_(formats), date1904_(date1904) {}

CsvBuilder::~CsvBuilder() {
  if (spill_) std::fclose(spill_);
}

void CsvBuilder::render(const xlsx::Row& row, const xlsx::Cell& c, std::string& out) {
  using xlsx::CellType;
  switch (c.type) {
    case CellType::Blank:
      return;
    case CellType::Number: {
      const numfmt::Format* f = formats_.get(c.style);
      if (f) f->render(c.number, date1904_, out);
      else numfmt::format_general(c.number, out);
      return;
    }
    case CellType::Bool:
      out += c.number != 0 ? "TRUE" : "FALSE";
      return;
    case CellType::Error:
      out.append(row.text_of(c));
      return;
    case CellType::SharedString:
    case CellType::Text: {
      std::string_view text;
      if (c.type == CellType::SharedString) {
        auto ix = static_cast<std::size_t>(c.number);
        if (ix >= sst_.size()) throw Error("the sheet refers to a shared string that does not exist");
        text = sst_.get(ix);
      } else {
        text = row.text_of(c);
      }
      const numfmt::Format* f = formats_.get(c.style);
      if (f) f->render_text(text, out);
      else out.append(text);
      return;
    }
  }
}

void CsvBuilder::use(std::uint32_t row, std::uint32_t col) {
  if (!used_) {
    used_ = true;
    min_row_ = max_row_ = row;
    min_col_ = max_col_ = col;
  } else {
    min_row_ = std::min(min_row_, row);
    max_row_ = std::max(max_row_, row);
    min_col_ = std::min(min_col_, col);
    max_col_ = std::max(max_col_, col);
  }
}

void CsvBuilder::note(std::uint32_t row, std::uint32_t col) { use(row, col); }

void CsvBuilder::column_style(std::uint32_t first, std::uint32_t last, std::uint32_t style, bool hidden) {
  if (style != 0) column_styles_.push_back(ColumnStyle{first, last, style});
  if (hidden) {
    if (!hidden_cols_) {
      hidden_cols_ = true;
      hidden_col_min_ = first;
      hidden_col_max_ = last;
    } else {
      hidden_col_min_ = std::min(hidden_col_min_, first);
      hidden_col_max_ = std::max(hidden_col_max_, last);
    }
  }
}

void CsvBuilder::row(const xlsx::Row& row) {
  // Where a row with a format of its own meets a column with the same format, the
  // cell counts as used.
  if (row.custom) {
    if (!custom_rows_) {
      custom_rows_ = true;
      custom_row_min_ = row.index;
    }
    custom_row_max_ = row.index;
  }
  if (row.style != 0) {
    for (const ColumnStyle& cs : column_styles_) {
      if (cs.style != row.style) continue;
      use(row.index, cs.first);
      use(row.index, cs.last);
    }
  }
  const auto& cells = row.cells;
  if (cells.empty()) return;
  // Cells normally ascend; otherwise put them in order, the last of a column winning.
  order_.clear();
  bool sorted = true;
  for (std::size_t i = 1; i < cells.size(); ++i)
    if (cells[i].col <= cells[i - 1].col) sorted = false;
  if (!sorted) {
    order_.resize(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) order_[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) { return cells[a].col < cells[b].col; });
    std::size_t w = 0;
    for (std::size_t i = 0; i < order_.size(); ++i) {
      if (w > 0 && cells[order_[w - 1]].col == cells[order_[i]].col) order_[w - 1] = order_[i];
      else order_[w++] = order_[i];
    }
    order_.resize(w);
  }
  const std::size_t n = sorted ? cells.size() : order_.size();
  const std::size_t header = spool_.size();
  put_u32(spool_, row.index);
  put_u32(spool_, 0);
  std::uint32_t count = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const xlsx::Cell& c = sorted ? cells[k] : cells[order_[k]];
    if (c.type == xlsx::CellType::Blank && c.style == 0) continue;
    use(row.index, c.col);
    if (c.type == xlsx::CellType::Blank) continue;
    value_.clear();
    render(row, c, value_);
    if (value_.empty()) continue;
    put_u32(spool_, c.col);
    const std::size_t len_at = spool_.size();
    put_u32(spool_, 0);
    append_csv_field(spool_, value_);
    std::uint32_t len = static_cast<std::uint32_t>(spool_.size() - len_at - 4);
    std::memcpy(&spool_[len_at], &len, 4);
    ++count;
  }
  if (count == 0) {
    spool_.resize(header);
  } else {
    std::memcpy(&spool_[header + 4], &count, 4);
  }
  if (spool_.size() >= kSpoolMemoryLimit) spill();
}

void CsvBuilder::merge(const xlsx::Range& range) {
  if (merges_.size() >= kMaxMergedRanges) throw Error("the sheet holds more merged ranges than allowed");
  merges_.push_back(range);
}

void CsvBuilder::spill() {
  if (!spill_) {
    spill_ = std::tmpfile();
    if (!spill_) throw Error("cannot create a temporary file: " + platform::system_error_text(errno));
  }
  if (!spool_.empty() && std::fwrite(spool_.data(), 1, spool_.size(), spill_) != spool_.size())
    throw Error("cannot write a temporary file: " + platform::system_error_text(errno));
  spool_.clear();
}

void CsvBuilder::emit_row(CsvOutput& out, std::uint32_t index, const char* p, std::uint32_t count) {
  // Merged ranges that cover this row, ordered by their first column.
  bool changed = false;
  if (!active_.empty() && active_min_r2_ < index) {
    std::erase_if(active_, [&](const xlsx::Range* r) { return r->r2 < index; });
    changed = true;
  }
  while (next_merge_ < merges_.size() && merges_[next_merge_].r1 <= index) {
    const xlsx::Range* r = &merges_[next_merge_++];
    if (r->r2 >= index) active_.push_back(r);
    changed = true;
  }
  if (changed) {
    // Ranges of a sound sheet never overlap, so no row meets more of them than it has columns.
    if (active_.size() > xlsx::kMaxColumns) throw Error("the merged ranges of the sheet overlap");
    std::sort(active_.begin(), active_.end(), [](const xlsx::Range* a, const xlsx::Range* b) { return a->c1 < b->c1; });
    active_min_r2_ = 0xFFFFFFFFu;
    for (const xlsx::Range* r : active_) active_min_r2_ = std::min(active_min_r2_, r->r2);
  }
  auto covered = [&](std::uint32_t c) {
    auto it = std::upper_bound(active_.begin(), active_.end(), c, [](std::uint32_t v, const xlsx::Range* r) { return v < r->c1; });
    if (it == active_.begin()) return false;
    const xlsx::Range* r = *(it - 1);
    return c <= r->c2 && !(c == r->c1 && index == r->r1);
  };
  line_.clear();
  std::uint32_t col = min_col_;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t c = get_u32(p);
    std::uint32_t len = get_u32(p + 4);
    const char* text = p + 8;
    p += 8 + len;
    if (!active_.empty() && covered(c)) continue;
    line_.append(c - col, ',');
    col = c;
    line_.append(text, len);
  }
  line_.append(max_col_ - col, ',');
  line_ += "\r\n";
  out.write(line_.data(), line_.size());
}

void CsvBuilder::finish(CsvOutput& out) {
  if (!used_) return;
  if (custom_rows_) {
    min_row_ = std::min(min_row_, custom_row_min_);
    max_row_ = std::max(max_row_, custom_row_max_);
  }
  if (hidden_cols_) {
    min_col_ = std::min(min_col_, hidden_col_min_);
    max_col_ = std::max(max_col_, hidden_col_max_);
  }

  std::sort(merges_.begin(), merges_.end(), [](const xlsx::Range& a, const xlsx::Range& b) { return a.r1 < b.r1; });
  std::string empty_line(max_col_ - min_col_, ',');
  empty_line += "\r\n";
  std::uint32_t next = min_row_;
  auto rows_until = [&](std::uint32_t index) {
    for (; next < index; ++next) out.write(empty_line.data(), empty_line.size());
  };
  auto walk = [&](const char* p, const char* e) {
    while (p < e) {
      std::uint32_t index = get_u32(p), count = get_u32(p + 4);
      const char* f = p + 8;
      const char* q = f;
      for (std::uint32_t i = 0; i < count; ++i) q += 8 + get_u32(q + 4);
      rows_until(index);
      emit_row(out, index, f, count);
      next = index + 1;
      p = q;
    }
  };
  if (spill_) {
    spill();
    if (std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0)
      throw Error("cannot read a temporary file: " + platform::system_error_text(errno));
    // Read the spooled rows back in large blocks; a row cut at the end of a block
    // is completed by the next one.
    std::string buf;
    std::size_t have = 0;
    constexpr std::size_t kBlock = 1u << 20;
    buf.resize(kBlock);
    while (true) {
      if (buf.size() - have < kBlock / 2) buf.resize(have + kBlock);
      std::size_t n = std::fread(buf.data() + have, 1, buf.size() - have, spill_);
      if (n == 0) {
        if (std::ferror(spill_)) throw Error("cannot read a temporary file: " + platform::system_error_text(errno));
        if (have != 0) throw Error("a temporary file is damaged");
        break;
      }
      have += n;
      const char* p = buf.data();
      const char* e = p + have;
      while (e - p >= 8) {
        std::uint32_t count = get_u32(p + 4);
        const char* q = p + 8;
        bool complete = true;
        for (std::uint32_t i = 0; i < count; ++i) {
          if (e - q < 8 || static_cast<std::size_t>(e - q - 8) < get_u32(q + 4)) {
            complete = false;
            break;
          }
          q += 8 + get_u32(q + 4);
        }
        if (!complete) break;
        walk(p, q);
        p = q;
      }
      std::size_t used = static_cast<std::size_t>(p - buf.data());
      std::memmove(buf.data(), p, have - used);
      have -= used;
    }
  } else {
    walk(spool_.data(), spool_.data() + spool_.size());
  }
  rows_until(max_row_ + 1);
}

}  // namespace sheets
