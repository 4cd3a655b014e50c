#include "sheets/xlsx/package.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/text.h"
#include "sheets/xlsx/sheet_reader.h"
#include "sheets/xml/sax.h"

namespace sheets::xlsx {
namespace {

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

class RelsHandler : public xml::Handler {
 public:
  std::vector<Relationship> rels;
  void start(std::string_view name, const xml::Attrs& a) override {
    if (name != "Relationship") return;
    Relationship r;
    if (const char* v = a.get("Id")) r.id = v;
    if (const char* v = a.get("Type")) r.type = v;
    if (const char* v = a.get("Target")) r.target = v;
    if (const char* v = a.get("TargetMode")) r.external = std::strcmp(v, "External") == 0;
    rels.push_back(std::move(r));
  }
};

std::vector<Relationship> read_rels(const zip::Archive& ar, const std::string& part) {
  const zip::Entry* e = ar.find(part);
  if (!e) return {};
  auto in = ar.stream(*e);
  if (e->size > kMaxSmallPartSize) throw Error("the part " + part + " is larger than allowed");
  RelsHandler h;
  xml::parse(*in, part, h);
  return std::move(h.rels);
}

int to_int(const char* s, int fallback) {
  if (!s) return fallback;
  int v = fallback;
  const char* e = s + std::strlen(s);
  auto r = std::from_chars(s, e, v);
  return r.ec == std::errc() ? v : fallback;
}

bool to_bool(const char* s) { return s && (std::strcmp(s, "1") == 0 || std::strcmp(s, "true") == 0); }

class WorkbookHandler : public xml::Handler {
 public:
  struct Sheet {
    std::string name, rid;
    int visibility = 0;
  };
  std::vector<Sheet> sheets;
  int active = 0;
  bool date1904 = false;
  bool seen_view = false;

  void start(std::string_view name, const xml::Attrs& a) override {
    if (name == "sheet") {
      Sheet s;
      if (const char* v = a.get("name")) s.name = v;
      if (const char* v = a.get("id")) s.rid = v;
      if (const char* v = a.get("state")) {
        if (std::strcmp(v, "hidden") == 0) s.visibility = 1;
        else if (std::strcmp(v, "veryHidden") == 0) s.visibility = 2;
      }
      sheets.push_back(std::move(s));
    } else if (name == "workbookPr") {
      date1904 = to_bool(a.get("date1904"));
    } else if (name == "workbookView" && !seen_view) {
      seen_view = true;
      active = to_int(a.get("activeTab"), 0);
    }
  }
};

class StylesHandler : public xml::Handler {
 public:
  explicit StylesHandler(Styles& s) : s_(s) {}
  void start(std::string_view name, const xml::Attrs& a) override {
    if (name == "numFmt" && in_numfmts_) {
      const char* id = a.get("numFmtId");
      const char* code = a.get("formatCode");
      if (id && code) s_.custom[to_int(id, -1)] = code;
    } else if (name == "numFmts") {
      in_numfmts_ = true;
    } else if (name == "cellXfs") {
      in_xfs_ = true;
    } else if (name == "xf" && in_xfs_) {
      if (s_.xf_numfmt.size() >= kMaxStyles) throw Error("the part styles holds too many cell formats");
      s_.xf_numfmt.push_back(to_int(a.get("numFmtId"), 0));
    }
  }
  void end(std::string_view name) override {
    if (name == "numFmts") in_numfmts_ = false;
    else if (name == "cellXfs") in_xfs_ = false;
  }

 private:
  Styles& s_;
  bool in_numfmts_ = false, in_xfs_ = false;
};

class SharedStringsHandler : public xml::Handler {
 public:
  SharedStringsHandler(SharedStrings& s, const std::string& part, std::uint64_t part_size)
      : s_(s), part_(part), part_size_(part_size) {}
  void start(std::string_view name, const xml::Attrs& a) override {
    if (name == "si") {
      in_si_ = true;
      cur_.clear();
    } else if (name == "rPh") {
      ++in_rph_;
    } else if (name == "t" && in_si_ && in_rph_ == 0) {
      in_t_ = true;
      const char* sp = a.get("space");
      preserve_ = sp && std::strcmp(sp, "preserve") == 0;
      t_start_ = cur_.size();
    } else if (name == "sst") {
      if (const char* u = a.get("uniqueCount")) {
        long long n = 0;
        std::from_chars(u, u + std::strlen(u), n);
        // Trust the declared count only as far as the part can hold that many
        // entries ("<si/>" at the least).
        std::uint64_t cap = std::min<std::uint64_t>(kMaxSharedStrings, part_size_ / 5);
        if (n > 0) s_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), cap)));
      }
    }
  }
  void end(std::string_view name) override {
    if (name == "si") {
      in_si_ = false;
      if (s_.size() >= kMaxSharedStrings) throw Error("the part " + part_ + " holds too many shared strings");
      total_ += cur_.size();
      if (total_ > kMaxSharedStringBytes) throw Error("the part " + part_ + " holds more shared text than allowed");
      unescaped_.clear();
      append_unescaped(unescaped_, cur_);
      s_.add(unescaped_);
    } else if (name == "rPh") {
      --in_rph_;
    } else if (name == "t" && in_t_) {
      in_t_ = false;
      if (!preserve_) {
        // Without xml:space="preserve" the blanks around the text are not part of it.
        auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        std::size_t b = t_start_, e = cur_.size();
        while (b < e && blank(cur_[b])) ++b;
        while (e > b && blank(cur_[e - 1])) --e;
        cur_.erase(e);
        cur_.erase(t_start_, b - t_start_);
      }
    }
  }
  void text(std::string_view t) override {
    if (in_t_) {
      if (cur_.size() + t.size() > kMaxSharedStringBytes) throw Error("the part " + part_ + " holds a string longer than allowed");
      cur_.append(t);
    }
  }

 private:
  SharedStrings& s_;
  std::string part_;
  std::uint64_t part_size_;
  std::string cur_, unescaped_;
  std::uint64_t total_ = 0;
  bool in_si_ = false, in_t_ = false, preserve_ = false;
  std::size_t t_start_ = 0;
  int in_rph_ = 0;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void SharedStrings::add(std::string_view s) {
  text_.append(s);
  offsets_.push_back(static_cast<std::uint32_t>(text_.size()));
}

std::string rels_part(std::string_view part) {
  std::size_t slash = part.rfind('/');
  std::string folder = slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
  std::string file(slash == std::string_view::npos ? part : part.substr(slash + 1));
  return folder + "_rels/" + file + ".rels";
}

std::string resolve_target(std::string_view source_part, std::string_view target) {
  std::string path;
  if (!target.empty() && target.front() == '/') {
    path = std::string(target.substr(1));
  } else {
    std::size_t slash = source_part.rfind('/');
    path = slash == std::string_view::npos ? std::string() : std::string(source_part.substr(0, slash + 1));
    path += target;
  }
  // Normalise "." and ".." segments.
  std::vector<std::string> segs;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!segs.empty()) segs.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segs.push_back(std::move(seg));
    }
    start = end + 1;
  }
  std::string out;
  for (std::size_t i = 0; i < segs.size(); ++i) {
    if (i) out += '/';
    out += segs[i];
  }
  return out;
}

void append_unescaped(std::string& out, std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t u = s.find("_x", i);
    if (u == std::string_view::npos || u + 7 > s.size()) {
      out.append(s.substr(i));
      return;
    }
    out.append(s.substr(i, u - i));
    int a = hex_digit(s[u + 2]), b = hex_digit(s[u + 3]), c = hex_digit(s[u + 4]), d = hex_digit(s[u + 5]);
    if (a < 0 || b < 0 || c < 0 || d < 0 || s[u + 6] != '_') {
      out += '_';
      i = u + 1;
      continue;
    }
    char32_t code = static_cast<char32_t>((a << 12) | (b << 8) | (c << 4) | d);
    i = u + 7;
    if (code >= 0xD800 && code <= 0xDBFF && i + 7 <= s.size() && s[i] == '_' && s[i + 1] == 'x' && s[i + 6] == '_') {
      int a2 = hex_digit(s[i + 2]), b2 = hex_digit(s[i + 3]), c2 = hex_digit(s[i + 4]), d2 = hex_digit(s[i + 5]);
      if (a2 >= 0 && b2 >= 0 && c2 >= 0 && d2 >= 0) {
        char32_t low = static_cast<char32_t>((a2 << 12) | (b2 << 8) | (c2 << 4) | d2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          i += 7;
        }
      }
    }
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
    platform::text::append_utf8(out, code);
  }
}

Package::Package(std::unique_ptr<zip::Archive> archive) : archive_(std::move(archive)) {
  std::string workbook;
  for (const Relationship& r : read_rels(*archive_, "_rels/.rels")) {
    if (!r.external && ends_with(r.type, "/officeDocument")) {
      workbook = resolve_target("", r.target);
      break;
    }
  }
  if (workbook.empty()) {
    if (archive_->find("xl/workbook.bin"))
      throw Error("it is a binary workbook, which this engine cannot read");
    throw Error("the package names no workbook part (not a spreadsheet package)");
  }
  if (ends_with(workbook, ".bin")) throw Error("it is a binary workbook (.xlsb), which this engine cannot read");
  if (!archive_->find(workbook)) throw Error("the workbook part " + workbook + " is missing");
  read_workbook(workbook);
}

void Package::read_workbook(const std::string& part) {
  const zip::Entry* e = archive_->find(part);
  if (e->size > kMaxSmallPartSize) throw Error("the part " + part + " is larger than allowed");
  WorkbookHandler wh;
  {
    auto in = archive_->stream(*e);
    xml::parse(*in, part, wh);
  }
  std::vector<Relationship> rels = read_rels(*archive_, rels_part(part));
  std::string styles, sst;
  for (const Relationship& r : rels) {
    if (r.external) continue;
    if (ends_with(r.type, "/styles")) styles = resolve_target(part, r.target);
    else if (ends_with(r.type, "/sharedStrings")) sst = resolve_target(part, r.target);
    else if (ends_with(r.type, "/vbaProject")) vba_ = true;
  }
  if (!vba_) {
    for (const zip::Entry& en : archive_->entries())
      if (ends_with(en.name, "vbaProject.bin")) vba_ = true;
  }
  date1904_ = wh.date1904;
  for (auto& s : wh.sheets) {
    SheetPart sp;
    sp.name = std::move(s.name);
    sp.visibility = s.visibility;
    for (const Relationship& r : rels) {
      if (r.id == s.rid && !r.external) {
        sp.part = resolve_target(part, r.target);
        sp.chart = ends_with(r.type, "/chartsheet");
        break;
      }
    }
    sheets_.push_back(std::move(sp));
  }
  if (sheets_.empty()) throw Error("the workbook has no sheets");
  active_ = wh.active;
  if (active_ < 0 || active_ >= static_cast<int>(sheets_.size())) active_ = 0;
  if (!styles.empty() && archive_->find(styles)) read_styles(styles);
  if (!sst.empty() && archive_->find(sst)) read_shared_strings(sst);
}

void Package::read_styles(const std::string& part) {
  const zip::Entry* e = archive_->find(part);
  if (e->size > kMaxSmallPartSize) throw Error("the part " + part + " is larger than allowed");
  StylesHandler h(styles_);
  auto in = archive_->stream(*e);
  xml::parse(*in, part, h);
}

void Package::read_shared_strings(const std::string& part) {
  const zip::Entry* e = archive_->find(part);
  SharedStringsHandler h(sst_, part, e->size);
  auto in = archive_->stream(*e);
  xml::parse(*in, part, h);
}

namespace {

class NotesHandler : public xml::Handler {
 public:
  explicit NotesHandler(const std::function<void(std::uint32_t, std::uint32_t)>& f) : f_(f) {}
  void start(std::string_view name, const xml::Attrs& a) override {
    if (name != "comment") return;
    std::uint32_t col = 0, row = 0;
    if (const char* ref = a.get("ref"))
      if (parse_ref(ref, col, row)) f_(row, col);
  }

 private:
  const std::function<void(std::uint32_t, std::uint32_t)>& f_;
};

}  // namespace

void read_sheet_notes(const zip::Archive& archive, const std::string& sheet_part,
                      const std::function<void(std::uint32_t, std::uint32_t)>& f) {
  for (const Relationship& r : read_rels(archive, rels_part(sheet_part))) {
    if (r.external || !ends_with(r.type, "/comments")) continue;
    std::string part = resolve_target(sheet_part, r.target);
    const zip::Entry* e = archive.find(part);
    if (!e) continue;
    if (e->size > kMaxSmallPartSize) throw Error("the part " + part + " is larger than allowed");
    NotesHandler h(f);
    auto in = archive.stream(*e);
    xml::parse(*in, part, h);
  }
}

}  // namespace sheets::xlsx
