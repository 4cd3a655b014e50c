#include "floor.h"

#include <expat.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace bench {

namespace {

constexpr size_t kChunk = 256 * 1024;
constexpr size_t kEndSearch = 65536 + 22;  // end record plus the longest comment

uint32_t rd16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t rd32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct File {
  std::FILE* f = nullptr;
  explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f) std::fclose(f);
  }
};

struct Located {
  uint64_t data_offset = 0;
  uint64_t csize = 0;
  uint64_t usize = 0;
  uint16_t method = 0;
};

// Finds an entry through the central directory (plain, not ZIP64: the benchmark
// writes its own packages).
bool locate(std::FILE* f, const std::string& entry, Located& out, std::string& error) {
  if (fseeko(f, 0, SEEK_END) != 0) return error = "cannot seek", false;
  const off_t size = ftello(f);
  const off_t tail = size < static_cast<off_t>(kEndSearch) ? size : static_cast<off_t>(kEndSearch);
  std::vector<unsigned char> buf(tail);
  if (fseeko(f, size - tail, SEEK_SET) != 0 || std::fread(buf.data(), 1, tail, f) != buf.size())
    return error = "cannot read the end record", false;
  long at = -1;
  for (long i = static_cast<long>(tail) - 22; i >= 0; --i) {
    if (rd32(&buf[i]) == 0x06054b50) {
      at = i;
      break;
    }
  }
  if (at < 0) return error = "no end record", false;
  const uint32_t count = rd16(&buf[at + 10]);
  const uint32_t cd_size = rd32(&buf[at + 12]);
  const uint32_t cd_offset = rd32(&buf[at + 16]);
  std::vector<unsigned char> cd(cd_size);
  if (fseeko(f, cd_offset, SEEK_SET) != 0 || std::fread(cd.data(), 1, cd_size, f) != cd_size)
    return error = "cannot read the central directory", false;
  size_t p = 0;
  for (uint32_t i = 0; i < count && p + 46 <= cd.size(); ++i) {
    if (rd32(&cd[p]) != 0x02014b50) break;
    const uint32_t n = rd16(&cd[p + 28]), m = rd16(&cd[p + 30]), k = rd16(&cd[p + 32]);
    if (p + 46 + n > cd.size()) break;
    if (std::string(reinterpret_cast<const char*>(&cd[p + 46]), n) == entry) {
      out.method = static_cast<uint16_t>(rd16(&cd[p + 10]));
      out.csize = rd32(&cd[p + 20]);
      out.usize = rd32(&cd[p + 24]);
      const uint32_t local = rd32(&cd[p + 42]);
      unsigned char lh[30];
      if (fseeko(f, local, SEEK_SET) != 0 || std::fread(lh, 1, 30, f) != 30 ||
          rd32(lh) != 0x04034b50)
        return error = "bad local header", false;
      out.data_offset = local + 30 + rd16(lh + 26) + rd16(lh + 28);
      return true;
    }
    p += 46 + n + m + k;
  }
  return error = "no entry " + entry, false;
}

void XMLCALL on_start(void* user, const XML_Char*, const XML_Char**) {
  ++*static_cast<uint64_t*>(user);
}

}  // namespace

uint64_t entry_size(const std::string& path, const std::string& entry) {
  File file(path);
  Located loc;
  std::string error;
  if (!file.f || !locate(file.f, entry, loc, error)) return 0;
  return loc.usize;
}

FloorResult inflate_and_count(const std::string& path, const std::string& entry) {
  FloorResult r;
  File file(path);
  if (!file.f) return r.error = "cannot open " + path, r;
  Located loc;
  if (!locate(file.f, entry, loc, r.error)) return r;
  if (loc.method != 8 && loc.method != 0) return r.error = "unknown method", r;
  if (fseeko(file.f, static_cast<off_t>(loc.data_offset), SEEK_SET) != 0)
    return r.error = "cannot seek", r;

  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr),
                                                                 XML_ParserFree);
  XML_SetUserData(parser.get(), &r.elements);
  XML_SetStartElementHandler(parser.get(), on_start);

  std::vector<char> in(kChunk);
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return r.error = "inflateInit2 failed", r;
  uint64_t left = loc.csize;
  bool done = false;
  while (!done) {
    size_t n = left < kChunk ? static_cast<size_t>(left) : kChunk;
    if (n == 0 && loc.method == 0) break;
    if (n > 0 && std::fread(in.data(), 1, n, file.f) != n) {
      r.error = "short read";
      break;
    }
    left -= n;
    if (loc.method == 0) {
      r.xml_bytes += n;
      if (XML_Parse(parser.get(), in.data(), static_cast<int>(n), 0) == XML_STATUS_ERROR) {
        r.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
        break;
      }
      continue;
    }
    zs.next_in = reinterpret_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(n);
    do {
      void* out = XML_GetBuffer(parser.get(), static_cast<int>(kChunk));
      if (!out) {
        r.error = "expat out of memory";
        done = true;
        break;
      }
      zs.next_out = static_cast<Bytef*>(out);
      zs.avail_out = static_cast<uInt>(kChunk);
      int rc = inflate(&zs, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        r.error = "inflate failed";
        done = true;
        break;
      }
      const size_t got = kChunk - zs.avail_out;
      r.xml_bytes += got;
      if (XML_ParseBuffer(parser.get(), static_cast<int>(got), 0) == XML_STATUS_ERROR) {
        r.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
        done = true;
        break;
      }
      if (rc == Z_STREAM_END) {
        done = true;
        break;
      }
      if (rc == Z_BUF_ERROR && zs.avail_in == 0 && left == 0) {
        r.error = "truncated entry";
        done = true;
        break;
      }
    } while (zs.avail_in > 0 || zs.avail_out == 0);
  }
  inflateEnd(&zs);
  if (r.error.empty()) {
    if (XML_Parse(parser.get(), nullptr, 0, 1) == XML_STATUS_ERROR)
      r.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
    else
      r.ok = true;
  }
  return r;
}

}  // namespace bench
