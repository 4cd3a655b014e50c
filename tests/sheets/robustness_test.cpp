// Damaged and hostile workbooks: every variant either converts or fails with the
// engine's error; none may crash, hang or run away with memory (the sanitizer
// builds run these too).
#include <gtest/gtest.h>

#include <random>

#include "sheets/engine.h"
#include "sheets/fuzz_entry.h"
#include "support/xlsx_builder.h"

namespace {

std::string sample_package(bool stored) {
  testkit::XlsxOptions o;
  o.zip.level = stored ? 0 : 6;
  testkit::XlsxBuilder b(o);
  auto& s = b.add_sheet("Data");
  for (uint32_t r = 1; r <= 30; ++r) {
    s.text(r, 1, "text, \"quoted\" " + std::to_string(r)).number(r, 2, r * 1.25, "#,##0.00").date(r, 3, "2020-02-29", 14);
    s.boolean(r, 4, r % 2 == 0).inline_text(r, 5, "inline");
  }
  s.merge("A31:B32").styled_empty(33, 6, "0%");
  b.add_chart_sheet("Chart");
  return b.to_string();
}

// Opens and converts every sheet; true when it all worked.
bool convert_all(const std::string& bytes) {
  try {
    auto wb = sheets::Workbook::open_memory(bytes, "fuzzed.xlsx");
    for (int i = 0; i < static_cast<int>(wb->sheets().size()); ++i) {
      std::string out;
      try {
        wb->write_csv(i, out);
      } catch (const sheets::Error&) {
      }
    }
    return true;
  } catch (const sheets::Error&) {
    return false;
  }
}

TEST(Robustness, TruncatedPackagesFailCleanly) {
  for (bool stored : {false, true}) {
    const std::string good = sample_package(stored);
    ASSERT_TRUE(convert_all(good));
    for (std::size_t cut = 0; cut < good.size(); cut += std::max<std::size_t>(1, good.size() / 300))
      EXPECT_FALSE(convert_all(good.substr(0, cut))) << "cut at " << cut;
  }
}

TEST(Robustness, CorruptedBytesNeverEscapeAsAnythingButTheEnginesError) {
  std::mt19937 rng(12345);
  for (bool stored : {false, true}) {
    const std::string good = sample_package(stored);
    for (int i = 0; i < 400; ++i) {
      std::string bad = good;
      int flips = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
      convert_all(bad);  // any outcome but a crash or a foreign exception
    }
  }
}

TEST(Robustness, FuzzEntryPointsSwallowOnlyExpectedFailures) {
  const std::string pkg = sample_package(true);
  sheets::fuzz::zip_input(reinterpret_cast<const uint8_t*>(pkg.data()), pkg.size());
  const std::string xml =
      "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" s=\"4\"><v>1.5</v></c><c t=\"s\"><v>1</v></c>"
      "<c s=\"2\"><v>-5</v></c></row><row><c t=\"inlineStr\"><is><t>x</t></is></c></row></sheetData>"
      "<mergeCells><mergeCell ref=\"A1:B2\"/></mergeCells></worksheet>";
  for (std::size_t cut = 0; cut <= xml.size(); ++cut)
    sheets::fuzz::sheet_xml_input(reinterpret_cast<const uint8_t*>(xml.data()), cut);
}

TEST(Robustness, SharedStringTableDeclaringAHugeCountIsNotTrusted) {
  testkit::XlsxBuilder b;
  b.add_sheet("S").text(1, 1, "only");
  b.replace_part("xl/sharedStrings.xml",
                 "<?xml version=\"1.0\"?><sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                 "count=\"4000000000\" uniqueCount=\"4000000000\"><si><t>only</t></si></sst>");
  auto wb = sheets::Workbook::open_memory(b.to_string(), "x.xlsx");
  std::string out;
  wb->write_csv(0, out);
  EXPECT_EQ(out, "only\r\n");
}

}  // namespace
