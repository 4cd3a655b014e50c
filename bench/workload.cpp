#include "workload.h"

#include <array>
#include <cstdio>
#include <exception>
#include <string_view>

#include "support/xlsx_builder.h"

namespace bench {

namespace {

// splitmix64: small, fast and the same on every platform.
struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
};

constexpr std::array<std::string_view, 12> kPlaces = {
    "Zürich",      "Łódź",     "東京",         "São Paulo", "Ærøskøbing", "Москва",
    "New York, NY", "Reykjavík", "Kraków",      "Århus",     "Montréal",   "İstanbul"};
constexpr std::array<std::string_view, 8> kNotes = {
    "ok",
    "checked",
    "see \"remarks\"",
    "line one\nline two",
    "a, b and c",
    "  padded  ",
    "tab\there",
    "naïve café — 50 %"};
constexpr std::array<std::string_view, 6> kWords = {"Widget", "Gadget", "Sprocket",
                                                    "Grommet", "Flange", "Doohickey"};

}  // namespace

bool write_workload(const std::string& path, const WorkloadShape& shape) {
  try {
    testkit::XlsxOptions options;
    options.zip.level = 6;
    testkit::XlsxBuilder b(options);
    const testkit::StyleId money = b.style("#,##0.00");
    const testkit::StyleId date = b.style(14);
    const testkit::StyleId stamp = b.style("yyyy-mm-dd hh:mm");
    const testkit::StyleId percent = b.style("0.0%");
    const testkit::StyleId sci = b.style("0.00E+00");
    const testkit::StyleId euro = b.style("[$€-407] #,##0.00;[Red]-[$€-407] #,##0.00");
    const uint32_t cols = shape.cols < 1 ? 1 : (shape.cols > 12 ? 12 : shape.cols);
    const uint32_t rows = shape.rows;
    const uint64_t seed = shape.seed;
    const std::string dim = "A1:" + testkit::cell_ref(rows + 1, cols);

    b.add_streamed_sheet(
        "Data",
        [&](testkit::RowWriter& w) {
          static constexpr std::array<std::string_view, 12> kHeads = {
              "Id",   "Item",       "Place", "Amount", "Date",  "Stamp",
              "Paid", "Discount",   "Qty",   "Note",   "Ratio", "Price"};
          w.begin_row_spans(1, 1, cols);
          for (uint32_t c = 1; c <= cols; ++c) w.text(c, kHeads[c - 1]);
          w.end_row();
          Rng rng{seed};
          std::string item;
          for (uint32_t r = 1; r <= rows; ++r) {
            w.begin_row_spans(r + 1, 1, cols);
            for (uint32_t c = 1; c <= cols; ++c) {
              switch (c) {
                case 1: w.number(c, r); break;
                case 2:
                  // Unique per row: a comma, quotes and a non-ASCII size.
                  item = std::string(kWords[rng.below(kWords.size())]);
                  item += " ";
                  item += std::to_string(seed * 1000003u + r);
                  item += ", \"Größe\": ";
                  item += static_cast<char>('A' + rng.below(26));
                  item += static_cast<char>('A' + rng.below(26));
                  w.text(c, item);
                  break;
                case 3: w.text(c, kPlaces[rng.below(kPlaces.size())]); break;
                case 4: w.number(c, static_cast<double>(rng.below(10000000)) / 100.0, money); break;
                case 5: w.number(c, 36526 + rng.below(9000), date); break;
                case 6: w.number(c, 40000 + rng.below(5000) + rng.below(1440) / 1440.0, stamp); break;
                case 7: w.boolean(c, rng.below(2) == 1); break;
                case 8: w.number(c, rng.below(1000) / 1000.0, percent); break;
                case 9: w.number(c, rng.below(500)); break;
                case 10: w.text(c, kNotes[rng.below(kNotes.size())]); break;
                case 11: w.number(c, rng.unit() * 1e-3 + rng.below(100) * 1e7, sci); break;
                case 12: w.number(c, (static_cast<double>(rng.below(2000000)) - 500000) / 100.0, euro); break;
                default: break;
              }
            }
            w.end_row();
          }
        },
        testkit::Visibility::Visible, dim);
    b.save(path);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot write workload %s: %s\n", path.c_str(), e.what());
    return false;
  }
}

}  // namespace bench
