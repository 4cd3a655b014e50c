// Workbook builder: package parts laid out as the spreadsheet application writes them.
#include "support/xlsx_builder.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace testkit {

namespace {

constexpr std::string_view kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kRelTypeBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kCtBase = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
constexpr int kFirstCustomFmtId = 164;
constexpr size_t kRowFlush = 1 << 16;

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool needs_preserve(std::string_view t) {
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return !t.empty() && (ws(t.front()) || ws(t.back()));
}

std::string t_element(std::string_view text) {
  std::string s = needs_preserve(text) ? "<t xml:space=\"preserve\">" : "<t>";
  s += ooxml_text_escape(text);
  s += "</t>";
  return s;
}

const char* visibility_attr(Visibility v) {
  switch (v) {
    case Visibility::Hidden: return " state=\"hidden\"";
    case Visibility::VeryHidden: return " state=\"veryHidden\"";
    default: return "";
  }
}

std::string sheet_head(std::string_view dimension, bool selected, std::string_view cols,
                       std::string_view before) {
  std::string s(kXmlDecl);
  s += "<worksheet xmlns=\"";
  s += kMainNs;
  s += "\" xmlns:r=\"";
  s += kRelNs;
  s += "\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
       "mc:Ignorable=\"x14ac\" "
       "xmlns:x14ac=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac\"><dimension ref=\"";
  s += dimension.empty() ? std::string_view("A1") : dimension;
  s += "\"/><sheetViews><sheetView ";
  if (selected) s += "tabSelected=\"1\" ";
  s += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  s += cols;
  s += before;
  s += "<sheetData>";
  return s;
}

constexpr std::string_view kPageMargins =
    "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
    "footer=\"0.3\"/>";

}  // namespace

// ---------------------------------------------------------------------------
// Text helpers

std::string column_name(uint32_t col) {
  if (col == 0) throw std::invalid_argument("column numbers start at 1");
  std::string s;
  while (col > 0) {
    uint32_t r = (col - 1) % 26;
    s.insert(s.begin(), static_cast<char>('A' + r));
    col = (col - 1) / 26;
  }
  return s;
}

std::string cell_ref(uint32_t row, uint32_t col) { return column_name(col) + std::to_string(row); }

std::string xml_escape(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': s += "&amp;"; break;
      case '<': s += "&lt;"; break;
      case '>': s += "&gt;"; break;
      case '"': s += "&quot;"; break;
      default: s += c;
    }
  }
  return s;
}

std::string ooxml_text_escape(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string s;
  s.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (c == '&') {
      s += "&amp;";
    } else if (c == '<') {
      s += "&lt;";
    } else if (c == '>') {
      s += "&gt;";
    } else if (u < 0x20 && c != '\t' && c != '\n') {
      s += "_x00";
      s += hex[u >> 4];
      s += hex[u & 0xF];
      s += '_';
    } else if (c == '_' && i + 6 < text.size() + 0 && text[i + 1] == 'x' && is_hex(text[i + 2]) &&
               is_hex(text[i + 3]) && is_hex(text[i + 4]) && is_hex(text[i + 5]) &&
               text[i + 6] == '_') {
      s += "_x005F_";  // a literal "_xHHHH_" must not read back as an escape
    } else {
      s += c;
    }
  }
  return s;
}

std::string number_text(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// RowWriter

void RowWriter::begin_row(uint32_t row, bool hidden) {
  if (in_row_) end_row();
  row_ = row;
  in_row_ = true;
  buf_ += "<row r=\"";
  buf_ += std::to_string(row);
  buf_ += hidden ? "\" hidden=\"1\">" : "\">";
}

void RowWriter::begin_row_spans(uint32_t row, uint32_t first_col, uint32_t last_col) {
  if (in_row_) end_row();
  row_ = row;
  in_row_ = true;
  buf_ += "<row r=\"";
  buf_ += std::to_string(row);
  buf_ += "\" spans=\"";
  buf_ += std::to_string(first_col);
  buf_ += ':';
  buf_ += std::to_string(last_col);
  buf_ += "\" x14ac:dyDescent=\"0.25\">";
}

void RowWriter::end_row() {
  if (!in_row_) return;
  buf_ += "</row>";
  in_row_ = false;
  flush_if_full();
}

void RowWriter::flush_if_full() {
  if (buf_.size() >= kRowFlush) {
    z_.write(buf_);
    buf_.clear();
  }
}

void RowWriter::cell_open(uint32_t col, StyleId s, const char* type) {
  buf_ += "<c r=\"";
  buf_ += column_name(col);
  char num[16];
  auto r = std::to_chars(num, num + sizeof num, row_);
  buf_.append(num, r.ptr);
  buf_ += '"';
  if (s != 0) {
    buf_ += " s=\"";
    r = std::to_chars(num, num + sizeof num, s);
    buf_.append(num, r.ptr);
    buf_ += '"';
  }
  if (type) {
    buf_ += " t=\"";
    buf_ += type;
    buf_ += '"';
  }
  buf_ += '>';
}

void RowWriter::number(uint32_t col, double v, StyleId s) {
  cell_open(col, s, nullptr);
  char num[64];
  auto r = std::to_chars(num, num + sizeof num, v);
  buf_ += "<v>";
  buf_.append(num, r.ptr);
  buf_ += "</v></c>";
}

void RowWriter::text(uint32_t col, std::string_view text, StyleId s) {
  shared_index(col, b_.intern(text), s);
}

void RowWriter::shared_index(uint32_t col, uint32_t index, StyleId s) {
  cell_open(col, s, "s");
  buf_ += "<v>";
  buf_ += std::to_string(index);
  buf_ += "</v></c>";
}

void RowWriter::inline_text(uint32_t col, std::string_view text, StyleId s) {
  cell_open(col, s, "inlineStr");
  buf_ += "<is>";
  buf_ += t_element(text);
  buf_ += "</is></c>";
}

void RowWriter::boolean(uint32_t col, bool v, StyleId s) {
  cell_open(col, s, "b");
  buf_ += v ? "<v>1</v></c>" : "<v>0</v></c>";
}

void RowWriter::error(uint32_t col, std::string_view code, StyleId s) {
  cell_open(col, s, "e");
  buf_ += "<v>";
  buf_ += xml_escape(code);
  buf_ += "</v></c>";
}

void RowWriter::date(uint32_t col, std::string_view iso, StyleId s) {
  cell_open(col, s, "d");
  buf_ += "<v>";
  buf_ += xml_escape(iso);
  buf_ += "</v></c>";
}

void RowWriter::empty(uint32_t col, StyleId s) {
  buf_ += "<c r=\"";
  buf_ += cell_ref(row_, col);
  buf_ += "\" s=\"";
  buf_ += std::to_string(s);
  buf_ += "\"/>";
}

void RowWriter::raw(std::string_view xml) { buf_ += xml; }

// ---------------------------------------------------------------------------
// SheetBuilder

SheetBuilder& SheetBuilder::put(uint32_t row, uint32_t col, std::string xml) {
  if (row == 0 || col == 0) throw std::invalid_argument("rows and columns start at 1");
  rows_[row][col] = std::move(xml);
  return *this;
}

std::string SheetBuilder::open(uint32_t row, uint32_t col, const Fmt& f, const char* type) {
  std::string s = "<c r=\"" + cell_ref(row, col) + "\"";
  if (!f.none()) s += " s=\"" + std::to_string(b_.style(f)) + "\"";
  if (type) {
    s += " t=\"";
    s += type;
    s += "\"";
  }
  s += ">";
  return s;
}

SheetBuilder& SheetBuilder::number(uint32_t row, uint32_t col, double v, const Fmt& f) {
  return put(row, col, open(row, col, f, nullptr) + "<v>" + number_text(v) + "</v></c>");
}

SheetBuilder& SheetBuilder::text(uint32_t row, uint32_t col, std::string_view text, const Fmt& f) {
  return shared_index(row, col, b_.intern(text), f);
}

SheetBuilder& SheetBuilder::shared_index(uint32_t row, uint32_t col, uint32_t index, const Fmt& f) {
  return put(row, col, open(row, col, f, "s") + "<v>" + std::to_string(index) + "</v></c>");
}

SheetBuilder& SheetBuilder::inline_text(uint32_t row, uint32_t col, std::string_view text,
                                        const Fmt& f) {
  return put(row, col, open(row, col, f, "inlineStr") + "<is>" + t_element(text) + "</is></c>");
}

SheetBuilder& SheetBuilder::boolean(uint32_t row, uint32_t col, bool v, const Fmt& f) {
  return put(row, col, open(row, col, f, "b") + (v ? "<v>1</v></c>" : "<v>0</v></c>"));
}

SheetBuilder& SheetBuilder::error(uint32_t row, uint32_t col, std::string_view code, const Fmt& f) {
  return put(row, col, open(row, col, f, "e") + "<v>" + xml_escape(code) + "</v></c>");
}

SheetBuilder& SheetBuilder::date(uint32_t row, uint32_t col, std::string_view iso, const Fmt& f) {
  return put(row, col, open(row, col, f, "d") + "<v>" + xml_escape(iso) + "</v></c>");
}

SheetBuilder& SheetBuilder::formula_number(uint32_t row, uint32_t col, std::string_view formula,
                                           double cached, const Fmt& f) {
  return put(row, col,
             open(row, col, f, nullptr) + "<f>" + xml_escape(formula) + "</f><v>" +
                 number_text(cached) + "</v></c>");
}

SheetBuilder& SheetBuilder::formula_text(uint32_t row, uint32_t col, std::string_view formula,
                                         std::string_view cached, const Fmt& f) {
  return put(row, col,
             open(row, col, f, "str") + "<f>" + xml_escape(formula) + "</f><v>" +
                 ooxml_text_escape(cached) + "</v></c>");
}

SheetBuilder& SheetBuilder::formula_bool(uint32_t row, uint32_t col, std::string_view formula,
                                         bool cached, const Fmt& f) {
  return put(row, col,
             open(row, col, f, "b") + "<f>" + xml_escape(formula) + "</f><v>" +
                 (cached ? "1" : "0") + "</v></c>");
}

SheetBuilder& SheetBuilder::formula_error(uint32_t row, uint32_t col, std::string_view formula,
                                          std::string_view cached, const Fmt& f) {
  return put(row, col,
             open(row, col, f, "e") + "<f>" + xml_escape(formula) + "</f><v>" +
                 xml_escape(cached) + "</v></c>");
}

SheetBuilder& SheetBuilder::styled_empty(uint32_t row, uint32_t col, const Fmt& f) {
  Fmt g = f.none() ? Fmt(0) : f;
  return put(row, col,
             "<c r=\"" + cell_ref(row, col) + "\" s=\"" + std::to_string(b_.style(g)) + "\"/>");
}

SheetBuilder& SheetBuilder::raw_cell(uint32_t row, uint32_t col, std::string_view xml) {
  return put(row, col, std::string(xml));
}

SheetBuilder& SheetBuilder::merge(std::string_view range) {
  merges_.emplace_back(range);
  return *this;
}

SheetBuilder& SheetBuilder::hide_row(uint32_t row) {
  hidden_rows_.push_back(row);
  return *this;
}

SheetBuilder& SheetBuilder::hide_column(uint32_t col) {
  hidden_cols_.push_back(col);
  return *this;
}

SheetBuilder& SheetBuilder::dimension(std::string_view ref) {
  dimension_ = std::string(ref);
  return *this;
}

SheetBuilder& SheetBuilder::xml_after_data(std::string_view xml) {
  after_data_ += xml;
  return *this;
}

SheetBuilder& SheetBuilder::xml_before_data(std::string_view xml) {
  before_data_ += xml;
  return *this;
}

std::string SheetBuilder::xml() const {
  // The stored dimension: the range of the cells, unless set.
  std::string dim = dimension_;
  if (dim.empty() && !rows_.empty()) {
    uint32_t c0 = UINT32_MAX, c1 = 0;
    for (const auto& [r, cells] : rows_) {
      if (cells.empty()) continue;
      c0 = std::min(c0, cells.begin()->first);
      c1 = std::max(c1, cells.rbegin()->first);
    }
    if (c1 > 0) {
      std::string a = cell_ref(rows_.begin()->first, c0);
      std::string b = cell_ref(rows_.rbegin()->first, c1);
      dim = a == b ? a : a + ":" + b;
    }
  }
  std::string cols;
  if (!hidden_cols_.empty()) {
    std::vector<uint32_t> hc = hidden_cols_;
    std::sort(hc.begin(), hc.end());
    hc.erase(std::unique(hc.begin(), hc.end()), hc.end());
    cols = "<cols>";
    for (uint32_t c : hc) {
      cols += "<col min=\"" + std::to_string(c) + "\" max=\"" + std::to_string(c) +
              "\" width=\"0\" hidden=\"1\" customWidth=\"1\"/>";
    }
    cols += "</cols>";
  }
  // The selected tab is written by the caller through options; a plain view here.
  std::string s = sheet_head(dim, false, cols, before_data_);
  std::vector<uint32_t> hr = hidden_rows_;
  std::sort(hr.begin(), hr.end());
  hr.erase(std::unique(hr.begin(), hr.end()), hr.end());
  auto hidden = [&](uint32_t r) { return std::binary_search(hr.begin(), hr.end(), r); };
  auto hit = hr.begin();
  auto row_open = [&](uint32_t r) {
    s += "<row r=\"" + std::to_string(r) + "\"";
    if (hidden(r)) s += " hidden=\"1\"";
  };
  for (const auto& [r, cells] : rows_) {
    // Hidden rows without cells still get their <row> element.
    for (; hit != hr.end() && *hit < r; ++hit) {
      if (rows_.count(*hit)) continue;
      row_open(*hit);
      s += "/>";
    }
    row_open(r);
    if (!cells.empty()) {
      s += " spans=\"" + std::to_string(cells.begin()->first) + ":" +
           std::to_string(cells.rbegin()->first) + "\"";
    }
    s += ">";
    for (const auto& [c, xml] : cells) s += xml;
    s += "</row>";
  }
  for (; hit != hr.end(); ++hit) {
    if (rows_.count(*hit)) continue;
    row_open(*hit);
    s += "/>";
  }
  s += "</sheetData>";
  s += after_data_;
  if (!merges_.empty()) {
    s += "<mergeCells count=\"" + std::to_string(merges_.size()) + "\">";
    for (const auto& m : merges_) s += "<mergeCell ref=\"" + xml_escape(m) + "\"/>";
    s += "</mergeCells>";
  }
  s += kPageMargins;
  s += "</worksheet>";
  return s;
}

// ---------------------------------------------------------------------------
// XlsxBuilder

XlsxBuilder::XlsxBuilder(XlsxOptions options) : options_(std::move(options)) {}
XlsxBuilder::~XlsxBuilder() = default;

SheetBuilder& XlsxBuilder::add_sheet(std::string_view name, Visibility v) {
  Sheet s;
  s.name = std::string(name);
  s.visibility = v;
  s.cells.reset(new SheetBuilder(*this));
  sheets_.push_back(std::move(s));
  return *sheets_.back().cells;
}

void XlsxBuilder::add_chart_sheet(std::string_view name, Visibility v) {
  Sheet s;
  s.name = std::string(name);
  s.visibility = v;
  s.chart = true;
  sheets_.push_back(std::move(s));
}

void XlsxBuilder::add_streamed_sheet(std::string_view name,
                                     std::function<void(RowWriter&)> generator, Visibility v,
                                     std::string_view dimension) {
  Sheet s;
  s.name = std::string(name);
  s.visibility = v;
  s.generator = std::move(generator);
  s.dimension = std::string(dimension);
  sheets_.push_back(std::move(s));
}

void XlsxBuilder::set_vba_project(std::string bytes) {
  if (bytes.empty()) {
    // A compound-file signature followed by filler: enough for a presence check.
    bytes = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0');
  }
  vba_ = std::move(bytes);
  if (options_.kind == WorkbookKind::Xlsx) options_.kind = WorkbookKind::Xlsm;
  if (options_.kind == WorkbookKind::Xltx) options_.kind = WorkbookKind::Xltm;
}

StyleId XlsxBuilder::style(const Fmt& f) {
  if (f.none()) return 0;
  int id = f.id;
  if (id < 0) {
    auto it = code_ids_.find(f.code);
    if (it == code_ids_.end()) {
      id = kFirstCustomFmtId + static_cast<int>(num_fmts_.size());
      num_fmts_.emplace_back(id, f.code);
      code_ids_.emplace(f.code, id);
    } else {
      id = it->second;
    }
  }
  auto it = xf_by_fmt_.find(id);
  if (it != xf_by_fmt_.end()) return it->second;
  xf_fmt_ids_.push_back(id);
  StyleId s = static_cast<StyleId>(xf_fmt_ids_.size());  // xf 0 is the default
  xf_by_fmt_.emplace(id, s);
  return s;
}

uint32_t XlsxBuilder::intern(std::string_view text) {
  ++sst_refs_;
  std::string key(text);
  auto it = sst_index_.find(key);
  if (it != sst_index_.end()) return it->second;
  uint32_t i = static_cast<uint32_t>(sst_.size());
  sst_.push_back(t_element(text));
  sst_index_.emplace(std::move(key), i);
  return i;
}

uint32_t XlsxBuilder::raw_shared_string(std::string_view si_xml) {
  ++sst_refs_;
  sst_.emplace_back(si_xml);
  return static_cast<uint32_t>(sst_.size() - 1);
}

void XlsxBuilder::add_part(std::string_view path, std::string bytes, std::string_view content_type) {
  extra_parts_.emplace_back(std::string(path), std::move(bytes));
  if (!content_type.empty()) extra_types_.emplace_back(std::string(path), std::string(content_type));
}

void XlsxBuilder::replace_part(std::string_view path, std::string bytes) {
  replaced_[std::string(path)] = std::move(bytes);
}

void XlsxBuilder::omit_part(std::string_view path) { omitted_.emplace_back(path); }

std::string XlsxBuilder::workbook_folder() const {
  const std::string& p = options_.workbook_part;
  auto slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string XlsxBuilder::sheet_part(size_t i) const {
  // Worksheets and chart sheets are numbered apart, as the application does.
  size_t n = 0;
  for (size_t k = 0; k <= i; ++k)
    if (sheets_[k].chart == sheets_[i].chart) ++n;
  return workbook_folder() + (sheets_[i].chart ? "chartsheets/sheet" : "worksheets/sheet") +
         std::to_string(n) + ".xml";
}

std::string XlsxBuilder::content_types() const {
  std::string main;
  switch (options_.kind) {
    case WorkbookKind::Xlsx: main = std::string(kCtBase) + "sheet.main+xml"; break;
    case WorkbookKind::Xltx: main = std::string(kCtBase) + "template.main+xml"; break;
    case WorkbookKind::Xlsm: main = "application/vnd.ms-excel.sheet.macroEnabled.main+xml"; break;
    case WorkbookKind::Xltm: main = "application/vnd.ms-excel.template.macroEnabled.main+xml"; break;
  }
  std::string s(kXmlDecl);
  s += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
  if (vba_) s += "<Default Extension=\"bin\" ContentType=\"application/vnd.ms-office.vbaProject\"/>";
  s += "<Default Extension=\"rels\" "
       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
  auto over = [&](const std::string& part, const std::string& type) {
    s += "<Override PartName=\"/" + xml_escape(part) + "\" ContentType=\"" + xml_escape(type) +
         "\"/>";
  };
  over(options_.workbook_part, main);
  for (size_t i = 0; i < sheets_.size(); ++i) {
    over(sheet_part(i), std::string(kCtBase) + (sheets_[i].chart ? "chartsheet+xml" : "worksheet+xml"));
  }
  over(workbook_folder() + "styles.xml", std::string(kCtBase) + "styles+xml");
  if (options_.shared_strings || !sst_.empty()) {
    over(workbook_folder() + "sharedStrings.xml", std::string(kCtBase) + "sharedStrings+xml");
  }
  if (options_.doc_props) {
    over("docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
    over("docProps/app.xml", "application/vnd.openxmlformats-officedocument.extended-properties+xml");
  }
  for (const auto& [part, type] : extra_types_) over(part, type);
  s += "</Types>";
  return s;
}

std::string XlsxBuilder::workbook_xml() const {
  std::string s(kXmlDecl);
  s += "<workbook xmlns=\"";
  s += kMainNs;
  s += "\" xmlns:r=\"";
  s += kRelNs;
  s += "\"><fileVersion appName=\"xl\" lastEdited=\"7\" lowestEdited=\"7\" rupBuild=\"22228\"/>";
  s += "<workbookPr";
  if (vba_) s += " codeName=\"ThisWorkbook\"";
  if (options_.date1904) s += " date1904=\"1\"";
  s += " defaultThemeVersion=\"166925\"/>";
  s += "<bookViews><workbookView xWindow=\"0\" yWindow=\"0\" windowWidth=\"28800\" "
       "windowHeight=\"12300\"";
  if (options_.active_tab >= 0) s += " activeTab=\"" + std::to_string(options_.active_tab) + "\"";
  s += "/></bookViews><sheets>";
  for (size_t i = 0; i < sheets_.size(); ++i) {
    s += "<sheet name=\"" + xml_escape(sheets_[i].name) + "\" sheetId=\"" + std::to_string(i + 1) +
         "\"" + visibility_attr(sheets_[i].visibility) + " r:id=\"rId" + std::to_string(i + 1) +
         "\"/>";
  }
  s += "</sheets><calcPr calcId=\"191029\"/></workbook>";
  return s;
}

std::string XlsxBuilder::workbook_rels() const {
  std::string s(kXmlDecl);
  s += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::string folder = workbook_folder();
  auto rel = [&](size_t id, std::string_view type, const std::string& target) {
    s += "<Relationship Id=\"rId" + std::to_string(id) + "\" Type=\"" + std::string(type) +
         "\" Target=\"" + xml_escape(target) + "\"/>";
  };
  size_t id = 1;
  for (size_t i = 0; i < sheets_.size(); ++i) {
    rel(id++, std::string(kRelTypeBase) + (sheets_[i].chart ? "chartsheet" : "worksheet"),
        sheet_part(i).substr(folder.size()));
  }
  rel(id++, std::string(kRelTypeBase) + "styles", "styles.xml");
  if (options_.shared_strings || !sst_.empty())
    rel(id++, std::string(kRelTypeBase) + "sharedStrings", "sharedStrings.xml");
  if (vba_) rel(id++, "http://schemas.microsoft.com/office/2006/relationships/vbaProject", "vbaProject.bin");
  s += "</Relationships>";
  return s;
}

std::string XlsxBuilder::styles_xml() const {
  std::string s(kXmlDecl);
  s += "<styleSheet xmlns=\"";
  s += kMainNs;
  s += "\">";
  if (!num_fmts_.empty()) {
    s += "<numFmts count=\"" + std::to_string(num_fmts_.size()) + "\">";
    for (const auto& [id, code] : num_fmts_) {
      s += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" + xml_escape(code) +
           "\"/>";
    }
    s += "</numFmts>";
  }
  s += "<fonts count=\"1\"><font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/>"
       "<family val=\"2\"/><scheme val=\"minor\"/></font></fonts>"
       "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
       "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
       "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
       "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
       "</cellStyleXfs>";
  s += "<cellXfs count=\"" + std::to_string(xf_fmt_ids_.size() + 1) + "\">";
  s += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
  for (int id : xf_fmt_ids_) {
    s += "<xf numFmtId=\"" + std::to_string(id) +
         "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  }
  s += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
       "</cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\" "
       "defaultTableStyle=\"TableStyleMedium2\" defaultPivotStyle=\"PivotStyleLight16\"/>"
       "</styleSheet>";
  return s;
}

std::string XlsxBuilder::shared_strings_xml() const {
  size_t total = 0;
  for (const auto& si : sst_) total += si.size() + 9;
  std::string s(kXmlDecl);
  s.reserve(total + 256);
  s += "<sst xmlns=\"";
  s += kMainNs;
  s += "\" count=\"" + std::to_string(sst_refs_) + "\" uniqueCount=\"" +
       std::to_string(sst_.size()) + "\">";
  for (const auto& si : sst_) {
    s += "<si>";
    s += si;
    s += "</si>";
  }
  s += "</sst>";
  return s;
}

void XlsxBuilder::emit(ZipWriter& z, const std::string& path, const std::string& bytes) {
  if (std::find(omitted_.begin(), omitted_.end(), path) != omitted_.end()) return;
  auto it = replaced_.find(path);
  z.add(path, it != replaced_.end() ? it->second : bytes);
}

void XlsxBuilder::write(ZipWriter& z) {
  // Streamed sheets may add shared strings; the part is always written for them.
  for (const auto& sh : sheets_)
    if (sh.generator) options_.shared_strings = true;
  const int active = options_.active_tab < 0 ? 0 : options_.active_tab;
  // Streamed sheets count their shared-string references while they are written;
  // restore the count afterwards so that saving twice gives the same package.
  const uint64_t refs_before = sst_refs_;

  emit(z, "[Content_Types].xml", content_types());
  {
    std::string rels(kXmlDecl);
    rels += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    if (options_.doc_props) {
      rels += "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
              "2006/relationships/extended-properties\" Target=\"docProps/app.xml\"/>"
              "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/"
              "relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>";
    }
    rels += "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
            "2006/relationships/officeDocument\" Target=\"" +
            xml_escape(options_.workbook_part) + "\"/></Relationships>";
    emit(z, "_rels/.rels", rels);
  }
  emit(z, options_.workbook_part, workbook_xml());
  const std::string folder = workbook_folder();
  const std::string& wb = options_.workbook_part;
  auto slash = wb.rfind('/');
  const std::string rels_path = folder + "_rels/" + (slash == std::string::npos ? wb : wb.substr(slash + 1)) + ".rels";
  emit(z, rels_path, workbook_rels());

  for (size_t i = 0; i < sheets_.size(); ++i) {
    Sheet& sh = sheets_[i];
    const std::string part = sheet_part(i);
    const bool selected = static_cast<int>(i) == active;
    if (sh.chart) {
      std::string s(kXmlDecl);
      s += "<chartsheet xmlns=\"";
      s += kMainNs;
      s += "\" xmlns:r=\"";
      s += kRelNs;
      s += "\"><sheetPr/><sheetViews><sheetView ";
      if (selected) s += "tabSelected=\"1\" ";
      s += "zoomScale=\"100\" workbookViewId=\"0\" zoomToFit=\"1\"/></sheetViews>";
      s += kPageMargins;
      s += "</chartsheet>";
      emit(z, part, s);
    } else if (sh.generator) {
      if (std::find(omitted_.begin(), omitted_.end(), part) != omitted_.end()) continue;
      if (replaced_.count(part)) {
        emit(z, part, {});
        continue;
      }
      z.begin_entry(part);
      z.write(sheet_head(sh.dimension, selected, "", ""));
      RowWriter w(*this, z);
      sh.generator(w);
      w.end_row();
      w.buf_ += "</sheetData>";
      w.buf_ += kPageMargins;
      w.buf_ += "</worksheet>";
      z.write(w.buf_);
      z.end_entry();
    } else {
      std::string s = sh.cells->xml();
      if (selected) {
        const std::string plain = "<sheetView workbookViewId=\"0\"/>";
        auto at = s.find(plain);
        if (at != std::string::npos)
          s.replace(at, plain.size(), "<sheetView tabSelected=\"1\" workbookViewId=\"0\"/>");
      }
      emit(z, part, s);
    }
  }
  emit(z, folder + "styles.xml", styles_xml());
  if (options_.shared_strings || !sst_.empty()) emit(z, folder + "sharedStrings.xml", shared_strings_xml());
  if (vba_) emit(z, folder + "vbaProject.bin", *vba_);
  if (options_.doc_props) {
    emit(z, "docProps/core.xml",
         std::string(kXmlDecl) +
             "<cp:coreProperties "
             "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
             "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><dc:creator>Tabrix</dc:creator>"
             "<dcterms:created xsi:type=\"dcterms:W3CDTF\">2020-01-01T00:00:00Z</dcterms:created>"
             "</cp:coreProperties>");
    std::string app(kXmlDecl);
    app += "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
           "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
           "<Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity></Properties>";
    emit(z, "docProps/app.xml", app);
  }
  for (const auto& [path, bytes] : extra_parts_) z.add(path, bytes);
  sst_refs_ = refs_before;
}

std::string XlsxBuilder::to_string() {
  ZipWriter z(options_.zip);
  write(z);
  return z.finish();
}

void XlsxBuilder::save(const std::string& path) {
  ZipWriter z(path, options_.zip);
  write(z);
  z.finish();
}

}  // namespace testkit
