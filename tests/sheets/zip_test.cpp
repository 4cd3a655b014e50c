// The zip reader: the container forms it must read, and the damaged and hostile
// archives it must refuse with a message.
#include <gtest/gtest.h>

#include "sheets/zip/zip.h"
#include "support/xlsx_builder.h"
#include "support/error_of.h"

namespace {

using sheets::zip::Archive;
using testkit::RawZipEntry;
using testkit::ZipWriter;

std::string read_entry(const Archive& ar, const std::string& name) {
  const auto* e = ar.find(name);
  if (!e) return "<missing>";
  return ar.read(*e, sheets::zip::kMaxEntrySize);
}

static std::string error_of(const std::function<void()>& f) { return testkit::error_of<sheets::Error>(f); }

std::string package_with(const RawZipEntry& raw) {
  ZipWriter z;
  z.add("ok.txt", "fine");
  z.add_raw(raw);
  return z.finish();
}

TEST(ZipReader, ReadsEveryContainerForm) {
  std::string big(300000, 'x');
  for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  struct Case {
    const char* name;
    testkit::ZipOptions options;
    testkit::ZipMethod method;
    bool streamed;
  } cases[] = {
      {"stored", {}, testkit::ZipMethod::Stored, false},
      {"deflated", {}, testkit::ZipMethod::Deflated, false},
      {"zip64 deflated", {true, false, 6}, testkit::ZipMethod::Deflated, false},
      {"zip64 stored", {true, false, 6}, testkit::ZipMethod::Stored, false},
      {"data descriptor", {false, true, 6}, testkit::ZipMethod::Deflated, true},
      {"zip64 with data descriptor", {true, true, 1}, testkit::ZipMethod::Deflated, true},
  };
  for (const Case& c : cases) {
    ZipWriter z(c.options);
    z.add("empty.txt", "", c.method);
    if (c.streamed) {
      z.begin_entry("xl/Big.xml", c.method);
      z.write(big.substr(0, 1000));
      z.write(big.substr(1000));
      z.end_entry();
    } else {
      z.add("xl/Big.xml", big, c.method);
    }
    auto ar = Archive::open_memory(z.finish());
    EXPECT_EQ(read_entry(*ar, "empty.txt"), "") << c.name;
    EXPECT_TRUE(read_entry(*ar, "XL/big.XML") == big) << c.name << ": names compare without regard to case";
    EXPECT_TRUE(read_entry(*ar, "/xl/Big.xml") == big) << c.name;
  }
}

TEST(ZipReader, StreamsInSmallPieces) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + ",";
  ZipWriter z;
  z.add("t", text);
  auto ar = Archive::open_memory(z.finish());
  auto in = ar->stream(*ar->find("t"));
  std::string got;
  char buf[333];
  while (std::size_t n = in->read(buf, sizeof buf)) got.append(buf, n);
  EXPECT_TRUE(got == text);
}

TEST(ZipReader, DamagedEntriesFailWithTheReason) {
  const std::string data = "hello hello hello hello";
  const std::string deflated = testkit::deflate_raw(data);
  struct Case {
    const char* what;
    RawZipEntry raw;
    const char* expect;
  } cases[] = {
      {"bad checksum", {.name = "e", .data = data, .crc = 1234u}, "checksum"},
      {"longer than recorded", {.name = "e", .data = deflated, .method = 8, .crc = testkit::crc32_of(data), .uncompressed_size = 5u}, "longer than recorded"},
      {"shorter than recorded", {.name = "e", .data = deflated, .method = 8, .crc = testkit::crc32_of(data), .uncompressed_size = 500u}, "shorter than recorded"},
      {"garbage deflate", {.name = "e", .data = std::string("\xff\xff\xff\xff", 4), .method = 8, .uncompressed_size = 10u}, "damaged"},
      {"encrypted", {.name = "e", .data = data, .flags = 1}, "encrypted"},
      {"unknown method", {.name = "e", .data = data, .method = 14}, "compression method"},
      {"data beyond the file", {.name = "e", .data = data, .compressed_size = 1u << 30, .central_compressed_size = 1u << 30}, "truncated"},
      {"bad local header offset", {.name = "e", .data = data, .local_header_offset = 3u}, "local header"},
      {"declared size beyond the entry limit", {.name = "e", .data = deflated, .method = 8, .uncompressed_size = 5ull << 30, .zip64_extra = true}, "larger than allowed"},
  };
  for (const Case& c : cases) {
    std::string msg = error_of([&] {
      auto ar = Archive::open_memory(package_with(c.raw));
      EXPECT_EQ(read_entry(*ar, "ok.txt"), "fine") << c.what << ": the sound entry still reads";
      read_entry(*ar, "e");
    });
    EXPECT_NE(msg.find(c.expect), std::string::npos) << c.what << ": " << msg;
  }
}

TEST(ZipReader, RefusesWhatIsNotAnArchive) {
  ZipWriter z;
  z.add("a", "some text");
  std::string good = z.finish();
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "just some text that is long enough to search"},
      {"truncated directory", good.substr(0, good.size() - 30)},
      {"cut in half", good.substr(0, good.size() / 2)},
  };
  for (const Case& c : cases) EXPECT_NE(error_of([&] { Archive::open_memory(c.bytes); }), "(no error)") << c.what;
}

TEST(ZipReader, CompressionBombFailsOnItsRatio) {
  std::string zeros(8u << 20, '\0');
  std::string packed = testkit::deflate_raw(zeros, 9);
  ASSERT_GT(zeros.size() / packed.size(), sheets::zip::kMaxRatio) << "the sample must exceed the ratio limit";
  RawZipEntry raw{.name = "bomb", .data = packed, .method = 8, .crc = testkit::crc32_of(zeros), .uncompressed_size = zeros.size()};
  auto ar = Archive::open_memory(package_with(raw));
  EXPECT_NE(error_of([&] { read_entry(*ar, "bomb"); }).find("ratio"), std::string::npos);
}

TEST(ZipReader, ReadingIntoMemoryRespectsTheCallersLimit) {
  ZipWriter z;
  z.add("a", std::string(1000, 'a'));
  auto ar = Archive::open_memory(z.finish());
  EXPECT_NE(error_of([&] { ar->read(*ar->find("a"), 999); }).find("larger than allowed"), std::string::npos);
}

TEST(ZipReader, CompoundFileSignature) {
  EXPECT_TRUE(sheets::zip::is_compound_file(std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest", 12)));
  EXPECT_FALSE(sheets::zip::is_compound_file("PK\x03\x04"));
}

}  // namespace
