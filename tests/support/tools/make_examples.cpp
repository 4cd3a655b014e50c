// Writes the sample workbooks under examples/ (the README's run command converts
// them). Deterministic: running it again gives the same bytes.
//   make_examples [EXAMPLES_FOLDER]   (default: examples/ of the source tree)
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "support/xlsx_builder.h"

namespace fs = std::filesystem;
using testkit::Fmt;
using testkit::Visibility;
using testkit::XlsxBuilder;

namespace {

// Orders with dates, amounts in two currencies, quoted and comma-laden text, and
// a summary sheet of formulas with their cached results (the active sheet).
void sales(const fs::path& dir) {
  XlsxBuilder b;
  auto& o = b.add_sheet("Orders");
  const char* heads[] = {"Order", "Date", "Customer", "Item", "Qty", "Unit price", "Total", "Paid"};
  for (int c = 0; c < 8; ++c) o.text(1, c + 1, heads[c]);
  struct Row {
    int date;
    const char* customer;
    const char* item;
    int qty;
    double price;
    bool paid;
  } rows[] = {
      {43832, "Müller & Söhne GmbH", "Widget, large", 12, 4.5, true},
      {43833, "O'Brien, Patrick", "Gadget \"Pro\"", 1, 129.99, true},
      {43840, "Łukasz Żółć", "Sprocket", 250, 0.35, false},
      {43851, "ACME Corp.", "Flange\n(2 pieces)", 3, 17.25, true},
      {43862, "Société Générale d'Équipement", "Grommet", 1000, 0.012, false},
      {43870, "山田太郎", "Widget, small", 7, 2.8, true},
      {43891, "  Leading and trailing blanks  ", "Doohickey", 2, 1250, false},
  };
  int r = 2;
  for (const Row& x : rows) {
    o.number(r, 1, 1000 + r - 1)
        .number(r, 2, x.date, 14)
        .text(r, 3, x.customer)
        .text(r, 4, x.item)
        .number(r, 5, x.qty, "#,##0")
        .number(r, 6, x.price, "$#,##0.00")
        .formula_number(r, 7, "E" + std::to_string(r) + "*F" + std::to_string(r), x.qty * x.price,
                        "$#,##0.00;[Red]-$#,##0.00")
        .boolean(r, 8, x.paid);
    ++r;
  }
  auto& s = b.add_sheet("Summary");
  s.text(1, 1, "Summary of orders").merge("A1:C1");
  s.text(2, 1, "Orders").formula_number(2, 2, "COUNT(Orders!A:A)", 7);
  s.text(3, 1, "Revenue").formula_number(3, 2, "SUM(Orders!G:G)", 54 + 129.99 + 87.5 + 51.75 + 12 + 19.6 + 2500,
                                        "#,##0.00");
  s.text(4, 1, "Open").formula_number(4, 2, "COUNTIF(Orders!H:H,FALSE)", 3);
  s.text(5, 1, "Share paid").formula_number(5, 2, "COUNTIF(Orders!H:H,TRUE)/B2", 4.0 / 7, "0.0%");
  s.text(6, 1, "First order").formula_number(6, 2, "MIN(Orders!B:B)", 43832, "dddd, mmmm d, yyyy");
  s.text(7, 1, "Largest customer").formula_text(7, 2, "INDEX(Orders!C:C,8)", "  Leading and trailing blanks  ");
  b.set_active_tab(1);
  b.save((dir / "sales-2020.xlsx").string());
}

// Addresses with line breaks, commas, quotes and many scripts; phone numbers and
// postcodes kept as text; inline strings as other writers produce them.
void contacts(const fs::path& dir) {
  XlsxBuilder b;
  auto& s = b.add_sheet("Contacts");
  const char* heads[] = {"Name", "Address", "Phone", "Postcode", "Note"};
  for (int c = 0; c < 5; ++c) s.text(1, c + 1, heads[c]);
  struct C {
    const char* name;
    const char* address;
    const char* phone;
    const char* postcode;
    const char* note;
  } people[] = {
      {"Zoë Ångström", "Storgatan 1\n111 22 Stockholm", "+46 8 123 456", "11122", "prefers \"Zoe\""},
      {"José Álvarez", "Calle Mayor, 5\nMadrid", "+34 91 555 0101", "28013", ""},
      {"Дмитрий Иванов", "ул. Ленина, д. 10\nМосква", "+7 495 000-00-00", "101000", "Cyrillic"},
      {"李小龍", "香港九龍", "+852 2000 0000", "", "CJK"},
      {"Ahmed \"Al\" Hassan", "12 Nile St., Cairo", "+20 2 1234 5678", "11511", "tab\tinside"},
      {"Émilie Dubois-Lefèvre", "8, rue de la Paix\r\n75002 Paris", "+33 1 23 45 67 89", "75002", "CR LF kept"},
  };
  int r = 2;
  for (const C& p : people) {
    s.text(r, 1, p.name).text(r, 2, p.address).inline_text(r, 3, p.phone).text(r, 4, p.postcode, "@");
    if (*p.note) s.inline_text(r, 5, p.note);
    ++r;
  }
  b.save((dir / "contacts.xlsx").string());
}

// Numbers through many formats: General at its limits, scientific, percent,
// thousands scaling, fractions, elapsed time, literals and sections.
void measurements(const fs::path& dir) {
  XlsxBuilder b;
  auto& s = b.add_sheet("Measurements");
  s.text(1, 1, "Value").text(1, 2, "Format").text(1, 3, "Formatted");
  struct M {
    double v;
    Fmt f;
    const char* label;
  } rows[] = {
      {123456789012.0, Fmt(), "General, large"},
      {0.000000000000000888178, Fmt(), "General, tiny"},
      {2147483647, Fmt(), "General, 32-bit integer"},
      {1.0 / 3, Fmt(), "General, a third"},
      {-1234.5678, "#,##0.00", "#,##0.00"},
      {0.4567, "0.0%", "0.0%"},
      {6.02214076e23, "0.00E+00", "0.00E+00"},
      {1234567890, "#,##0,,\" M\"", "millions"},
      {3.375, "# ?/?", "# ?/?"},
      {0.3125, "# ?\?/?\?", "# ?\?/?\?"},
      {2.75, "# ?/4", "quarters"},
      {1.5208333333, "[h]:mm:ss", "[h]:mm:ss"},
      {0.75, "h:mm AM/PM", "h:mm AM/PM"},
      {-42, "0;(0);\"zero\"", "sections"},
      {0, "0;(0);\"zero\"", "sections, zero"},
      {150, "[>100]\"high\" 0;[<=100]\"low\" 0", "conditions"},
      {19.99, "[$€-407] #,##0.00", "euro"},
      {12, "_(* #,##0_);_(* (#,##0);_(* \"-\"_)", "accounting"},
      {60, 14, "serial 60"},
  };
  int r = 2;
  for (const M& m : rows) {
    s.number(r, 1, m.v).text(r, 2, m.label).number(r, 3, m.v, m.f);
    ++r;
  }
  b.save((dir / "measurements.xlsx").string());
}

// A timetable in the 1904 date system with a merged title, a hidden helper row and
// a hidden column (hidden cells are still written).
void schedule(const fs::path& dir) {
  testkit::XlsxOptions opt;
  opt.date1904 = true;
  XlsxBuilder b(opt);
  auto& s = b.add_sheet("Timetable");
  s.text(1, 1, "Bus 42 — weekday timetable").merge("A1:D1");
  s.text(2, 1, "Stop").text(2, 2, "Departs").text(2, 3, "Internal").text(2, 4, "Date");
  const char* stops[] = {"Hauptbahnhof", "Marktplatz", "Universität", "Flughafen, Terminal 1"};
  for (int i = 0; i < 4; ++i) {
    const int r = 3 + i;
    s.text(r, 1, stops[i])
        .number(r, 2, (7 * 60 + 5 + 12 * i) / 1440.0, "h:mm AM/PM")
        .text(r, 3, "code " + std::to_string(100 + i))
        .number(r, 4, 42000 + i, "yyyy-mm-dd");
  }
  s.text(7, 1, "helper row").hide_row(7).hide_column(3);
  b.save((dir / "schedule-1904.xlsx").string());
}

// A macro-enabled workbook: VBA project part, a hidden and a very hidden sheet and
// a chart sheet beside the data.
void report(const fs::path& dir) {
  XlsxBuilder b;
  b.set_vba_project();
  auto& d = b.add_sheet("Report");
  d.text(1, 1, "Region").text(1, 2, "Q1").text(1, 3, "Q2").text(1, 4, "Change");
  const char* regions[] = {"North", "South", "East, inland", "West \"coast\""};
  const double q1[] = {1200.5, 980, 1500.25, 760};
  const double q2[] = {1350, 910.75, 1500.25, 990};
  for (int i = 0; i < 4; ++i) {
    const int r = i + 2;
    d.text(r, 1, regions[i])
        .number(r, 2, q1[i], "#,##0.00")
        .number(r, 3, q2[i], "#,##0.00")
        .formula_number(r, 4, "C" + std::to_string(r) + "/B" + std::to_string(r) + "-1",
                        q2[i] / q1[i] - 1, "+0.0%;-0.0%;0.0%");
  }
  b.add_chart_sheet("Chart");
  b.add_sheet("Lists", Visibility::Hidden).text(1, 1, "North").text(2, 1, "South");
  b.add_sheet("Config", Visibility::VeryHidden).text(1, 1, "version").number(1, 2, 3);
  b.save((dir / "report.xlsm").string());
}

// Booleans, errors, formula errors, ISO date cells, styled empty cells and a sparse
// layout that starts below and right of A1.
void inventory(const fs::path& dir) {
  XlsxBuilder b;
  auto& s = b.add_sheet("Stock");
  s.text(3, 2, "Part").text(3, 3, "In stock").text(3, 4, "Per box").text(3, 5, "Checked").text(3, 6, "Note");
  s.text(4, 2, "M3 screw").boolean(4, 3, true).formula_number(4, 4, "200/2", 100).date(4, 5, "2021-03-15", 14);
  s.text(5, 2, "M4 nut").boolean(5, 3, false).formula_error(5, 4, "10/0", "#DIV/0!").date(5, 5, "2021-03-16T14:30:00", 22);
  s.text(6, 2, "Washer").boolean(6, 3, true).error(6, 4, "#N/A").styled_empty(6, 5, 14).text(6, 6, "count pending");
  s.text(7, 2, "Spring").formula_bool(7, 3, "D7>0", true).formula_error(7, 4, "VLOOKUP(B7,X:Y,2)", "#REF!");
  s.styled_empty(9, 7, "0.00");
  b.save((dir / "inventory.xlsx").string());
}

// One more workbook in a subfolder, for runs that include subfolders.
void budget(const fs::path& dir) {
  fs::create_directories(dir / "archive" / "2019");
  XlsxBuilder b;
  auto& s = b.add_sheet("Budget 2019");
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun"};
  s.text(1, 1, "Month").text(1, 2, "Planned").text(1, 3, "Actual").text(1, 4, "Δ");
  for (int i = 0; i < 6; ++i) {
    const int r = i + 2;
    const double plan = 10000 + 500 * i, actual = plan * (0.9 + 0.04 * i);
    s.text(r, 1, months[i])
        .number(r, 2, plan, "#,##0")
        .number(r, 3, actual, "#,##0.00")
        .formula_number(r, 4, "C" + std::to_string(r) + "-B" + std::to_string(r), actual - plan,
                        "#,##0.00;(#,##0.00)");
  }
  b.save((dir / "archive" / "2019" / "budget-2019.xlsx").string());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path(TABRIX_SOURCE_DIR) / "examples";
    fs::create_directories(dir);
    sales(dir);
    contacts(dir);
    measurements(dir);
    schedule(dir);
    report(dir);
    inventory(dir);
    budget(dir);
    std::printf("sample workbooks written to %s\n", dir.string().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_examples: %s\n", e.what());
    return 1;
  }
}
