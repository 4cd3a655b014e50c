// Writes the seed inputs of the fuzz harnesses under fuzz/corpus/<harness>/:
//   zip/        whole packages: valid workbooks in every container variant, and
//               damaged or hostile ones (bombs, absurd declared sizes, truncation);
//   sheet_xml/  worksheet XML: ordinary, deep, entity expansion, absurd references;
//   numfmt/     number format codes, ordinary and odd.
// Deterministic: running it again gives the same bytes.
//   make_fuzz_corpus [CORPUS_FOLDER]   (default: fuzz/corpus/ of the source tree)
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/xlsx_builder.h"

namespace fs = std::filesystem;
using namespace testkit;

namespace {

void put(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + (dir / name).string());
}

std::string small_book(const XlsxOptions& o = {}) {
  XlsxBuilder b(o);
  auto& s = b.add_sheet("Sheet1");
  s.text(1, 1, "a,b").number(1, 2, 1.5, "0.00").date(2, 1, "2020-02-29", 14).boolean(2, 2, true);
  s.error(3, 1, "#N/A").formula_text(3, 2, "A1", "a,b").styled_empty(4, 4, "@").merge("A5:B6");
  b.add_sheet("Two", Visibility::Hidden).inline_text(1, 1, "x\ny");
  b.add_chart_sheet("Chart");
  return b.to_string();
}

// A minimal package holding one raw entry at the given name.
std::string with_raw(const RawZipEntry& e, ZipOptions o = {}) {
  ZipWriter z(o);
  z.add("[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>");
  z.add_raw(e);
  return z.finish();
}

void zip_seeds(const fs::path& dir) {
  put(dir, "book-deflated.xlsx", small_book());
  {
    XlsxOptions o;
    o.zip.zip64 = true;
    o.zip.data_descriptor = true;
    put(dir, "book-zip64-descriptor.xlsx", small_book(o));
  }
  {
    XlsxOptions o;
    o.zip.level = 0;
    ZipWriter z(o.zip);
    z.add("a.xml", "<a/>", ZipMethod::Stored);
    z.add("b.xml", "<b>stored</b>", ZipMethod::Stored);
    put(dir, "stored.zip", z.finish());
  }
  {
    XlsxOptions o;
    o.zip.data_descriptor = true;
    XlsxBuilder b(o);
    b.set_vba_project();
    b.add_sheet("M").number(1, 1, 1);
    put(dir, "book-xlsm-descriptor.xlsm", b.to_string());
  }
  // Nothing but the end record; and nothing at all.
  put(dir, "empty-archive.zip", ZipWriter().finish());
  put(dir, "empty-file", "");
  // Truncated in the middle of the data, and inside the end record.
  {
    const std::string book = small_book();
    put(dir, "truncated-half.xlsx", book.substr(0, book.size() / 2));
    put(dir, "truncated-end-record.xlsx", book.substr(0, book.size() - 7));
    std::string flipped = book;
    for (size_t i = 100; i < flipped.size(); i += 97) flipped[i] = static_cast<char>(~flipped[i]);
    put(dir, "bit-flipped.xlsx", flipped);
  }
  // A bomb: 16 MB of zeros deflated into a few KB (ratio over 1000).
  {
    RawZipEntry e;
    e.name = "xl/worksheets/sheet1.xml";
    const std::string zeros(16u << 20, '\0');
    e.data = deflate_raw(zeros, 9);
    e.method = 8;
    e.crc = crc32_of(zeros);
    e.uncompressed_size = zeros.size();
    put(dir, "bomb-ratio.zip", with_raw(e));
  }
  // Declared sizes far beyond the data, plain and in ZIP64 form.
  {
    RawZipEntry e;
    e.name = "xl/sharedStrings.xml";
    e.data = deflate_raw("<sst><si><t>x</t></si></sst>");
    e.method = 8;
    e.uncompressed_size = 0xFFFFFFFEull;
    put(dir, "huge-declared-size.zip", with_raw(e));
    e.zip64_extra = true;
    e.uncompressed_size = 1ull << 40;
    e.central_uncompressed_size = 1ull << 40;
    put(dir, "huge-declared-size-zip64.zip", with_raw(e, ZipOptions{true, false, 6}));
  }
  // Central directory and local header disagree; compressed size past the end.
  {
    RawZipEntry e;
    e.name = "xl/workbook.xml";
    e.data = "<workbook/>";
    e.central_compressed_size = 1u << 30;
    put(dir, "size-past-end.zip", with_raw(e));
    RawZipEntry f;
    f.name = "xl/workbook.xml";
    f.data = "<workbook/>";
    f.local_header_offset = 0x7FFFFFF0u;
    put(dir, "offset-past-end.zip", with_raw(f));
  }
  // Wrong CRC, unknown method, encrypted flag, hostile names.
  {
    RawZipEntry e;
    e.name = "xl/workbook.xml";
    e.data = "<workbook/>";
    e.crc = 0xDEADBEEF;
    put(dir, "bad-crc.zip", with_raw(e));
    e.crc.reset();
    e.method = 99;
    put(dir, "unknown-method.zip", with_raw(e));
    e.method = 0;
    e.flags = 1;
    put(dir, "encrypted-flag.zip", with_raw(e));
    e.flags = 0;
    e.name = "../../outside.xml";
    put(dir, "name-traversal.zip", with_raw(e));
    e.name = std::string("xl/\0hidden.xml", 14);
    put(dir, "name-nul.zip", with_raw(e));
    e.name = "";
    put(dir, "name-empty.zip", with_raw(e));
  }
  // Deflate data that is not a deflate stream.
  {
    RawZipEntry e;
    e.name = "xl/workbook.xml";
    e.data = "this is not deflate data at all";
    e.method = 8;
    e.uncompressed_size = 1000;
    put(dir, "bad-deflate.zip", with_raw(e));
  }
  // The same name twice.
  {
    ZipWriter z;
    z.add("xl/workbook.xml", "<workbook/>");
    z.add("XL/Workbook.xml", "<workbook>second</workbook>");
    put(dir, "duplicate-names.zip", z.finish());
  }
  // Not a zip: a compound-file signature (legacy .xls or an encrypted package).
  put(dir, "compound-file.xlsx",
      std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));
  // A package whose parts are hostile XML.
  {
    XlsxBuilder b;
    b.add_sheet("S").number(1, 1, 1);
    b.replace_part("xl/workbook.xml",
                   "<!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                   "<workbook><sheets><sheet name=\"&d;\" sheetId=\"1\" r:id=\"rId1\" "
                   "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"/>"
                   "</sheets></workbook>");
    put(dir, "entity-workbook.xlsx", b.to_string());
  }
  {
    XlsxBuilder b;
    b.add_sheet("S").number(1, 1, 1);
    b.omit_part("xl/_rels/workbook.xml.rels");
    put(dir, "missing-workbook-rels.xlsx", b.to_string());
  }
}

const char* kSheetHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";

std::string sheet(const std::string& data, const std::string& after = "") {
  return std::string(kSheetHead) + "<dimension ref=\"A1:C3\"/><sheetData>" + data + "</sheetData>" +
         after + "</worksheet>";
}

void sheet_xml_seeds(const fs::path& dir) {
  // Ordinary sheets in the layout the application writes.
  put(dir, "plain.xml",
      sheet("<row r=\"1\" spans=\"1:3\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>3.25</v></c>"
            "<c r=\"C1\" t=\"b\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\" t=\"e\"><v>#DIV/0!</v></c>"
            "<c r=\"B2\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> a,\"b\"_x000D_\n</t></is></c>"
            "<c r=\"C2\" t=\"d\"><v>2020-02-29T10:11:12</v></c></row><row r=\"3\"><c r=\"A3\" t=\"str\">"
            "<f>A1</f><v>x</v></c><c r=\"C3\" s=\"2\"/></row>",
            "<mergeCells count=\"1\"><mergeCell ref=\"A3:B3\"/></mergeCells>"));
  put(dir, "no-refs.xml",
      sheet("<row><c><v>1</v></c><c t=\"s\"><v>0</v></c><c/><c><v>4</v></c></row><row><c r=\"C2\"><v>2</v></c><c><v>3</v></c></row>"));
  put(dir, "rich-inline.xml",
      sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><rPr><b/></rPr><t>bold</t></r><r><t> plain</t></r>"
            "<rPh sb=\"0\" eb=\"1\"><t>ふり</t></rPh></is></c></row>"));
  // Absurd references and values.
  put(dir, "absurd-refs.xml",
      sheet("<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row><row r=\"1048577\"><c r=\"XFE1048577\"><v>2</v></c></row>"
            "<row r=\"4294967296\"><c r=\"A99999999999999999999\"><v>3</v></c></row><row r=\"-1\"><c r=\"ZZZZZZZZ1\"><v>4</v></c>"
            "<c r=\"\"><v>5</v></c><c r=\"1A\"><v>6</v></c><c r=\"A0\"><v>7</v></c></row>"));
  put(dir, "absurd-values.xml",
      sheet("<row r=\"1\"><c r=\"A1\"><v>1e999</v></c><c r=\"B1\"><v>-1e-999</v></c><c r=\"C1\"><v>NaN</v></c>"
            "<c r=\"D1\"><v>0x10</v></c><c r=\"E1\"><v> 12 </v></c><c r=\"F1\" t=\"s\"><v>99999999999</v></c>"
            "<c r=\"G1\" t=\"s\"><v>-1</v></c><c r=\"H1\" s=\"999999\"><v>1</v></c><c r=\"I1\" t=\"b\"><v>2</v></c>"
            "<c r=\"J1\" t=\"zz\"><v>1</v></c><c r=\"K1\" t=\"d\"><v>not a date</v></c><c r=\"L1\" t=\"e\"><v>#BOGUS!</v></c>"
            "<c r=\"M1\" s=\"1\"><v>-1</v></c><c r=\"N1\" s=\"1\"><v>2958466</v></c></row>"));
  put(dir, "descending-cells.xml",
      sheet("<row r=\"5\"><c r=\"C5\"><v>1</v></c><c r=\"A5\"><v>2</v></c></row><row r=\"2\"><c r=\"A2\"><v>3</v></c></row>"
            "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row>"));
  // Deep nesting and malformed markup.
  {
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<x>";
    put(dir, "deep.xml", std::string(kSheetHead) + "<sheetData><row r=\"1\"><c r=\"A1\"><is>" + deep);
  }
  put(dir, "unclosed.xml", std::string(kSheetHead) + "<sheetData><row r=\"1\"><c r=\"A1\"><v>1");
  put(dir, "mismatched.xml", std::string(kSheetHead) + "<sheetData><row r=\"1\"></c></row></sheetData></worksheet>");
  put(dir, "bad-utf8.xml", sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xC3\x28\xFF\xFE</t></is></c></row>"));
  put(dir, "attr-garbage.xml", sheet("<row r=\"1\"><c r=A1 t=\"s><v>0</v></c></row>"));
  put(dir, "text-before-root.xml", "garbage<worksheet/>");
  put(dir, "empty.xml", "");
  put(dir, "utf16-bom.xml", std::string("\xFF\xFE<\0w\0/\0>\0", 10));
  // Entity expansion (billion laughs) and an external entity.
  put(dir, "billion-laughs.xml",
      "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
      "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
      "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\">"
      "<c r=\"A1\" t=\"inlineStr\"><is><t>&i;</t></is></c></row></sheetData></worksheet>");
  put(dir, "external-entity.xml",
      "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\">"
      "<c r=\"A1\" t=\"inlineStr\"><is><t>&x;</t></is></c></row></sheetData></worksheet>");
  put(dir, "escapes.xml",
      sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>_x0041__x005F_x0042_ _xD800_ _x00_ _xFFFF_ &#0; &#x10FFFF; &#xD800;</t></is></c></row>"));
  {
    // Many cells in one row and a long text.
    std::string row = "<row r=\"1\">";
    for (int c = 1; c <= 2000; ++c) row += "<c><v>" + std::to_string(c) + "</v></c>";
    row += "</row><row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>" + std::string(40000, 'x') + "</t></is></c></row>";
    put(dir, "wide.xml", sheet(row));
  }
}

void numfmt_seeds(const fs::path& dir) {
  const std::vector<std::string> codes = {
      "General",
      "0",
      "0.00",
      "#,##0",
      "#,##0.00;[Red]-#,##0.00",
      "0%",
      "0.00E+00",
      "##0.0E+0",
      "# ?/?",
      "# ?\?/?\?",
      "?/16",
      "m/d/yyyy",
      "m/d/yyyy h:mm",
      "dddd, mmmm d, yyyy",
      "mmmmm yy",
      "h:mm:ss AM/PM",
      "A/P h",
      "[h]:mm:ss.000",
      "[mm]:ss",
      "[ss].00",
      "yyyy-mm-dd\"T\"hh:mm:ss",
      "\"text\" @ \"more\"",
      "@",
      "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)",
      "[$€-407] #,##0.00",
      "[$-409]mmmm d, yyyy",
      "[$USD] 0.00",
      "[>100][Red]0;[<=-100][Blue]-0;0.00",
      "[Color12]0",
      "#,##0,,\" M\"",
      "0,",
      "*-0",
      "\\a\\b\\c 0",
      "0;-0;;@",
      ";;;",
      "",
      "[",
      "[h",
      "\"unterminated",
      "0\\",
      "0.0.0",
      "#,##0,,,,,,,,,,,,,,,,,,,,,,,,",
      std::string(300, '0'),
      "0." + std::string(300, '0'),
      std::string(200, '?') + "/" + std::string(200, '?'),
      "E+",
      "0E+",
      "0E+" + std::string(50, '0'),
      "[>=1E+300]0;[<-1E+300]0",
      "[<>0]0",
      "[=]0",
      "mmmmmmmmmmmmmmmmmmmmmmmm",
      "ss.0000000000",
      "[hhhhhhhhhhhhhh]",
      "yyyyyyyyyyyyyyyy",
      "0;0;0;0;0;0",
      "\xFF\xFE\xC3",
      std::string("0\0.0", 4),
      "B1yyyy",
      "[DBNum1]0",
      "[$-F800]dddd, mmmm dd, yyyy",
      "0_)",
      "#?",
      "0/0",
      "# #/#",
      "00.00%%%%",
  };
  int i = 0;
  for (const std::string& code : codes) {
    char name[32];
    std::snprintf(name, sizeof name, "code-%03d.txt", i++);
    put(dir, name, code);
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path(TABRIX_SOURCE_DIR) / "fuzz" / "corpus";
    zip_seeds(dir / "zip");
    sheet_xml_seeds(dir / "sheet_xml");
    numfmt_seeds(dir / "numfmt");
    std::printf("fuzz seeds written to %s\n", dir.string().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_corpus: %s\n", e.what());
    return 1;
  }
}
