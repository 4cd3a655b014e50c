// The test kit's zip writer and workbook builder, read back through the engine's
// own zip reader and workbook facade: a writer fault here would make every engine
// test built on it meaningless.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "sheets/engine.h"
#include "sheets/xlsx/package.h"
#include "sheets/zip/zip.h"
#include "support/xlsx_builder.h"

namespace fs = std::filesystem;
using namespace testkit;

namespace {

std::string read_entry(const sheets::zip::Archive& a, const std::string& name) {
  const sheets::zip::Entry* e = a.find(name);
  if (!e) return "<missing " + name + ">";
  return a.read(*e, 1ull << 30);
}

std::string file_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path temp_file(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("tabrix-kit-test-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir / name;
}

uint64_t le(const std::string& b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
  return v;
}

// The local header (or the data descriptor after the data) must repeat what the
// central directory says: streaming readers go by the local copy.
void expect_local_copies_match(const std::string& bytes, const sheets::zip::Entry& e, bool zip64,
                               bool descriptor) {
  const size_t h = e.local_offset;
  ASSERT_EQ(le(bytes, h, 4), 0x04034b50u) << e.name;
  EXPECT_EQ(le(bytes, h + 8, 2), e.method) << e.name;
  const size_t n = le(bytes, h + 26, 2), m = le(bytes, h + 28, 2);
  EXPECT_EQ(bytes.substr(h + 30, n), e.name);
  uint64_t crc = le(bytes, h + 14, 4), csize = le(bytes, h + 18, 4), usize = le(bytes, h + 22, 4);
  if (zip64) {
    ASSERT_EQ(m, 20u) << e.name;
    EXPECT_EQ(le(bytes, h + 30 + n, 2), 1u);
    usize = le(bytes, h + 30 + n + 4, 8);
    csize = le(bytes, h + 30 + n + 12, 8);
  }
  if (descriptor) {
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(usize, 0u);
    const size_t d = h + 30 + n + m + e.compressed_size;
    ASSERT_EQ(le(bytes, d, 4), 0x08074b50u) << e.name;
    crc = le(bytes, d + 4, 4);
    csize = le(bytes, d + 8, zip64 ? 8 : 4);
    usize = le(bytes, d + (zip64 ? 16 : 12), zip64 ? 8 : 4);
  }
  EXPECT_EQ(crc, e.crc) << e.name;
  EXPECT_EQ(csize, e.compressed_size) << e.name;
  EXPECT_EQ(usize, e.size) << e.name;
}

struct ZipCase {
  const char* label;
  bool zip64;
  bool descriptor;
  ZipMethod method;
  bool to_file;
};

void PrintTo(const ZipCase& c, std::ostream* os) { *os << c.label; }

class ZipVariants : public ::testing::TestWithParam<ZipCase> {};

// Every container variant reads back entry for entry, including an entry bigger
// than the writer's internal chunk and an empty one.
TEST_P(ZipVariants, EntriesReadBackIntact) {
  const ZipCase& c = GetParam();
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "<c r=\"A" + std::to_string(i) + "\"><v>" + std::to_string(i * 7) + "</v></c>";
  ZipOptions o;
  o.zip64 = c.zip64;
  o.data_descriptor = c.descriptor;

  std::string bytes;
  const fs::path path = temp_file(std::string(c.label) + ".zip");
  {
    std::unique_ptr<ZipWriter> z = c.to_file ? std::make_unique<ZipWriter>(path.string(), o)
                                             : std::make_unique<ZipWriter>(o);
    z->add("small.xml", "<a>Zürich</a>", c.method);
    z->add("empty.xml", "", c.method);
    z->begin_entry("dir/big.xml", c.method);
    for (size_t at = 0; at < big.size(); at += 10007) z->write(std::string_view(big).substr(at, 10007));
    z->end_entry();
    bytes = z->finish();
  }
  if (c.to_file) {
    EXPECT_TRUE(bytes.empty());
    bytes = file_bytes(path);
  }
  auto a = sheets::zip::Archive::open_memory(bytes);
  ASSERT_EQ(a->entries().size(), 3u);
  EXPECT_EQ(read_entry(*a, "small.xml"), "<a>Zürich</a>");
  EXPECT_EQ(read_entry(*a, "empty.xml"), "");
  EXPECT_EQ(read_entry(*a, "dir/big.xml"), big);
  EXPECT_EQ(a->find("dir/big.xml")->size, big.size());
  EXPECT_EQ(a->find("dir/big.xml")->method, static_cast<uint16_t>(c.method));
  EXPECT_EQ((a->find("small.xml")->flags & 0x0008) != 0, c.descriptor);
  for (const auto& e : a->entries()) expect_local_copies_match(bytes, e, c.zip64, c.descriptor);
  fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Kit, ZipVariants,
    ::testing::Values(ZipCase{"deflated", false, false, ZipMethod::Deflated, false},
                      ZipCase{"stored", false, false, ZipMethod::Stored, false},
                      ZipCase{"zip64", true, false, ZipMethod::Deflated, false},
                      ZipCase{"descriptor", false, true, ZipMethod::Deflated, false},
                      ZipCase{"zip64_descriptor_stored", true, true, ZipMethod::Stored, false},
                      ZipCase{"file_deflated", false, false, ZipMethod::Deflated, true},
                      ZipCase{"file_zip64", true, false, ZipMethod::Deflated, true}),
    [](const auto& info) { return std::string(info.param.label); });

// Raw entries keep what they declare, so hostile packages say what the test wants.
TEST(KitZip, RawEntryDeclaresWhatIsAsked) {
  ZipWriter z;
  RawZipEntry e;
  e.name = "../outside.xml";
  e.data = deflate_raw("hello");
  e.method = 8;
  e.crc = crc32_of("hello");
  e.uncompressed_size = 5;
  z.add_raw(e);
  RawZipEntry h;
  h.name = "huge.xml";
  h.data = "x";
  h.uncompressed_size = 0xFFFFFFF0u;
  h.central_uncompressed_size = 0xFFFFFFF0u;
  z.add_raw(h);
  auto a = sheets::zip::Archive::open_memory(z.finish());
  ASSERT_EQ(a->entries().size(), 2u);
  EXPECT_EQ(a->entries()[0].name, "../outside.xml");
  EXPECT_EQ(read_entry(*a, "../outside.xml"), "hello");
  EXPECT_EQ(a->entries()[1].size, 0xFFFFFFF0u);
}

TEST(KitText, ColumnNamesAndReferences) {
  const std::pair<uint32_t, const char*> cases[] = {
      {1, "A"}, {26, "Z"}, {27, "AA"}, {52, "AZ"}, {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
  for (const auto& [col, name] : cases) EXPECT_EQ(column_name(col), name) << col;
  EXPECT_EQ(cell_ref(1048576, 16384), "XFD1048576");
  EXPECT_THROW(column_name(0), std::invalid_argument);
}

// Text escaped the way the application escapes it reads back unchanged through
// the engine's decoder (CR, control characters and literal "_xHHHH_" included).
TEST(KitText, OoxmlEscapesRoundTrip) {
  const std::string cases[] = {"plain", "a\r\nb", "tab\there", std::string("nul\0x", 5), "\x01\x1F",
                               "_x0041_", "__x0041__", "_x004_", "_xZZZZ_", "ends with _x", "1 < 2 & 3 > 2",
                               "\"quoted\""};
  for (const std::string& text : cases) {
    const std::string escaped = ooxml_text_escape(text);
    EXPECT_EQ(escaped.find('\r'), std::string::npos) << text;
    // XML-unescape the three entities, then decode _xHHHH_ as the reader does.
    std::string xml;
    for (size_t i = 0; i < escaped.size();) {
      if (escaped.compare(i, 5, "&amp;") == 0) xml += '&', i += 5;
      else if (escaped.compare(i, 4, "&lt;") == 0) xml += '<', i += 4;
      else if (escaped.compare(i, 4, "&gt;") == 0) xml += '>', i += 4;
      else xml += escaped[i++];
    }
    std::string back;
    sheets::xlsx::append_unescaped(back, xml);
    EXPECT_EQ(back, text) << "escaped as " << escaped;
  }
}

// A workbook with every feature the builder offers, read through the engine.
TEST(KitWorkbook, ReadsBackThroughTheEngine) {
  XlsxOptions o;
  o.date1904 = true;
  o.workbook_part = "book/main.xml";
  XlsxBuilder b(o);
  auto& s = b.add_sheet("Data, \"quoted\"");
  s.text(1, 1, "a,b").number(1, 2, 1.5, "0.00").boolean(1, 3, true).error(1, 4, "#N/A");
  s.inline_text(2, 1, "x\ny").formula_number(2, 2, "B1*2", 3, "0.0").formula_text(2, 3, "A1", "t");
  s.formula_bool(2, 4, "TRUE()", false).formula_error(2, 5, "1/0", "#DIV/0!");
  s.styled_empty(4, 6, 14).merge("A3:B3");
  b.add_chart_sheet("Chart", Visibility::Hidden);
  b.add_sheet("Very", Visibility::VeryHidden).number(1, 1, 1);
  b.add_streamed_sheet("Streamed", [&](RowWriter& w) {
    const StyleId pct = b.style("0%");
    for (uint32_t r = 2; r <= 3; ++r) {
      w.begin_row(r);
      w.number(2, r / 4.0, pct);
      w.text(3, "s" + std::to_string(r));
      w.end_row();
    }
  });
  b.set_active_tab(3);
  b.set_vba_project();

  const std::string first = b.to_string();
  EXPECT_EQ(b.to_string(), first) << "saving twice must give the same package";
  auto wb = sheets::Workbook::open_memory(first, "kit.xlsm");
  ASSERT_EQ(wb->sheets().size(), 4u);
  EXPECT_EQ(wb->sheets()[0].name, "Data, \"quoted\"");
  EXPECT_TRUE(wb->sheets()[1].chart);
  EXPECT_EQ(wb->sheets()[1].visibility, 1);
  EXPECT_EQ(wb->sheets()[2].visibility, 2);
  EXPECT_EQ(wb->active_sheet(), 3);
  EXPECT_TRUE(wb->date1904());
  EXPECT_TRUE(wb->has_vba_project());

  std::string csv;
  wb->write_csv(0, csv);
  EXPECT_EQ(csv,
            "\"a,b\",1.50,TRUE,#N/A,,\r\n"
            "\"x\ny\",3.0,t,FALSE,#DIV/0!,\r\n"
            ",,,,,\r\n"
            ",,,,,\r\n");
  csv.clear();
  wb->write_csv(3, csv);
  EXPECT_EQ(csv, "50%,s2\r\n75%,s3\r\n");
}

TEST(KitWorkbook, ReplacedAndOmittedParts) {
  XlsxBuilder b;
  b.add_sheet("S").number(1, 1, 1);
  b.omit_part("xl/styles.xml");
  b.replace_part("xl/sharedStrings.xml", "<sst/>");
  b.add_part("custom/extra.bin", "\x01\x02", "application/octet-stream");
  auto a = sheets::zip::Archive::open_memory(b.to_string());
  EXPECT_EQ(a->find("xl/styles.xml"), nullptr);
  EXPECT_EQ(read_entry(*a, "xl/sharedStrings.xml"), "<sst/>");
  EXPECT_EQ(read_entry(*a, "custom/extra.bin"), "\x01\x02");
  EXPECT_NE(read_entry(*a, "[Content_Types].xml").find("/custom/extra.bin"), std::string::npos);
}

}  // namespace
