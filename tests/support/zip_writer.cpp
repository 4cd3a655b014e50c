// Zip package writer: local headers, stored and deflated data, data descriptors,
// ZIP64 extra fields and end records, central directory.
#include "support/xlsx_builder.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <stdexcept>

namespace testkit {

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocator64Sig = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t k32Max = 0xFFFFFFFFu;
constexpr uint16_t k16Max = 0xFFFFu;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
// 2020-01-01 00:00, so that packages are byte-for-byte reproducible.
constexpr uint16_t kDosDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
constexpr uint16_t kDosTime = 0;
constexpr size_t kChunk = 1 << 16;

void le16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void le32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void le64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
uint32_t clamp32(uint64_t v) { return v >= k32Max ? k32Max : static_cast<uint32_t>(v); }

}  // namespace

struct ZipDeflater {
  z_stream zs{};
  bool deflating = false;
  std::string out;
};

std::string deflate_raw(std::string_view data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

uint32_t crc32_of(std::string_view data) {
  uLong c = crc32(0L, Z_NULL, 0);
  // crc32 takes uInt lengths; feed big inputs in pieces.
  size_t pos = 0;
  while (pos < data.size()) {
    size_t n = std::min<size_t>(data.size() - pos, 1u << 30);
    c = crc32(c, reinterpret_cast<const Bytef*>(data.data() + pos), static_cast<uInt>(n));
    pos += n;
  }
  return static_cast<uint32_t>(c);
}

ZipWriter::ZipWriter(ZipOptions options) : options_(options) {}

ZipWriter::ZipWriter(const std::string& path, ZipOptions options) : options_(options), path_(path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) throw std::runtime_error("cannot create " + path);
}

ZipWriter::~ZipWriter() {
  if (deflater_ && deflater_->deflating) deflateEnd(&deflater_->zs);
  if (file_) std::fclose(file_);
}

void ZipWriter::put(std::string_view bytes) {
  if (bytes.empty()) return;
  if (file_) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
      throw std::runtime_error("cannot write " + path_);
  } else {
    out_.append(bytes);
  }
  offset_ += bytes.size();
}

void ZipWriter::patch(uint64_t at, std::string_view bytes) {
  if (file_) {
    std::fflush(file_);
    if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
        fseeko(file_, 0, SEEK_END) != 0)
      throw std::runtime_error("cannot write " + path_);
  } else {
    std::memcpy(out_.data() + at, bytes.data(), bytes.size());
  }
}

void ZipWriter::write_local_header(const std::string& name, uint16_t method, uint16_t flags,
                                   uint32_t crc, uint64_t csize, uint64_t usize, bool zip64) {
  std::string h;
  h.reserve(30 + name.size() + 20);
  le32(h, kLocalSig);
  le16(h, zip64 ? 45 : 20);
  le16(h, flags);
  le16(h, method);
  le16(h, kDosTime);
  le16(h, kDosDate);
  le32(h, crc);
  le32(h, zip64 ? k32Max : static_cast<uint32_t>(csize));
  le32(h, zip64 ? k32Max : static_cast<uint32_t>(usize));
  le16(h, static_cast<uint16_t>(name.size()));
  le16(h, zip64 ? 20 : 0);
  h.append(name);
  if (zip64) {
    le16(h, kZip64ExtraId);
    le16(h, 16);
    le64(h, usize);
    le64(h, csize);
  }
  put(h);
}

void ZipWriter::add(std::string_view name, std::string_view data, ZipMethod method) {
  begin_entry(name, method);
  write(data);
  end_entry();
}

void ZipWriter::begin_entry(std::string_view name, ZipMethod method) {
  if (in_entry_ || finished_) throw std::logic_error("ZipWriter: entry already open or finished");
  in_entry_ = true;
  current_ = Central{};
  current_.name = std::string(name);
  current_.method = static_cast<uint16_t>(method);
  current_.flags = kFlagUtf8 | (options_.data_descriptor ? kFlagDescriptor : 0);
  current_.offset = offset_;
  current_.zip64 = options_.zip64;
  current_.crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  header_offset_ = offset_;
  write_local_header(current_.name, current_.method, current_.flags, 0, 0, 0, current_.zip64);
  if (method == ZipMethod::Deflated) {
    if (!deflater_) deflater_ = std::make_unique<ZipDeflater>();
    deflater_->zs = z_stream{};
    if (deflateInit2(&deflater_->zs, options_.level, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::runtime_error("deflateInit2 failed");
    deflater_->deflating = true;
    deflater_->out.resize(kChunk);
  }
}

void ZipWriter::flush_deflate(int mode) {
  z_stream& zs = deflater_->zs;
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(deflater_->out.data());
    zs.avail_out = static_cast<uInt>(deflater_->out.size());
    rc = deflate(&zs, mode);
    if (rc == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    size_t n = deflater_->out.size() - zs.avail_out;
    put(std::string_view(deflater_->out.data(), n));
    current_.csize += n;
  } while (zs.avail_out == 0 || (mode == Z_FINISH && rc != Z_STREAM_END));
}

void ZipWriter::write(std::string_view chunk) {
  if (!in_entry_) throw std::logic_error("ZipWriter: no open entry");
  current_.usize += chunk.size();
  size_t pos = 0;
  while (pos < chunk.size()) {
    size_t n = std::min<size_t>(chunk.size() - pos, 1u << 30);
    std::string_view piece = chunk.substr(pos, n);
    current_.crc = static_cast<uint32_t>(
        crc32(current_.crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(n)));
    if (current_.method == static_cast<uint16_t>(ZipMethod::Deflated)) {
      deflater_->zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
      deflater_->zs.avail_in = static_cast<uInt>(n);
      flush_deflate(Z_NO_FLUSH);
    } else {
      put(piece);
      current_.csize += n;
    }
    pos += n;
  }
}

void ZipWriter::end_entry() {
  if (!in_entry_) throw std::logic_error("ZipWriter: no open entry");
  if (current_.method == static_cast<uint16_t>(ZipMethod::Deflated)) {
    deflater_->zs.next_in = nullptr;
    deflater_->zs.avail_in = 0;
    flush_deflate(Z_FINISH);
    deflateEnd(&deflater_->zs);
    deflater_->deflating = false;
  }
  if (!current_.zip64 && (current_.csize >= k32Max || current_.usize >= k32Max))
    throw std::runtime_error("ZipWriter: entry needs ZIP64; set ZipOptions::zip64");
  if (options_.data_descriptor) {
    std::string d;
    le32(d, kDescriptorSig);
    le32(d, current_.crc);
    if (current_.zip64) {
      le64(d, current_.csize);
      le64(d, current_.usize);
    } else {
      le32(d, static_cast<uint32_t>(current_.csize));
      le32(d, static_cast<uint32_t>(current_.usize));
    }
    put(d);
  } else {
    std::string p;
    le32(p, current_.crc);
    le32(p, current_.zip64 ? k32Max : static_cast<uint32_t>(current_.csize));
    le32(p, current_.zip64 ? k32Max : static_cast<uint32_t>(current_.usize));
    patch(header_offset_ + 14, p);
    if (current_.zip64) {
      std::string x;
      le64(x, current_.usize);
      le64(x, current_.csize);
      patch(header_offset_ + 30 + current_.name.size() + 4, x);
    }
  }
  entries_.push_back(current_);
  in_entry_ = false;
}

void ZipWriter::add_raw(const RawZipEntry& e) {
  if (in_entry_ || finished_) throw std::logic_error("ZipWriter: entry open or finished");
  Central c;
  c.name = e.name;
  c.method = e.method;
  c.flags = e.flags;
  c.crc = e.crc ? *e.crc : crc32_of(e.data);
  c.offset = e.local_header_offset ? *e.local_header_offset : offset_;
  c.zip64 = e.zip64_extra;
  uint64_t csize = e.compressed_size ? *e.compressed_size : e.data.size();
  uint64_t usize = e.uncompressed_size ? *e.uncompressed_size : e.data.size();
  write_local_header(c.name, c.method, c.flags, c.crc, csize, usize, c.zip64);
  put(e.data);
  c.csize = e.central_compressed_size ? *e.central_compressed_size : csize;
  c.usize = e.central_uncompressed_size ? *e.central_uncompressed_size : usize;
  entries_.push_back(c);
}

std::string ZipWriter::finish() {
  if (in_entry_) end_entry();
  if (finished_) throw std::logic_error("ZipWriter: finished twice");
  finished_ = true;
  const uint64_t cd_offset = offset_;
  bool need64 = options_.zip64 || entries_.size() >= k16Max;
  std::string cd;
  for (const Central& c : entries_) {
    bool z64 = c.zip64 || c.csize >= k32Max || c.usize >= k32Max || c.offset >= k32Max;
    need64 = need64 || z64;
    cd.clear();
    le32(cd, kCentralSig);
    le16(cd, z64 ? 45 : 20);  // made by: MS-DOS attributes
    le16(cd, z64 ? 45 : 20);
    le16(cd, c.flags);
    le16(cd, c.method);
    le16(cd, kDosTime);
    le16(cd, kDosDate);
    le32(cd, c.crc);
    le32(cd, z64 ? k32Max : clamp32(c.csize));
    le32(cd, z64 ? k32Max : clamp32(c.usize));
    le16(cd, static_cast<uint16_t>(c.name.size()));
    le16(cd, z64 ? 28 : 0);
    le16(cd, 0);  // comment
    le16(cd, 0);  // disk
    le16(cd, 0);  // internal attributes
    le32(cd, 0);  // external attributes
    le32(cd, z64 ? k32Max : clamp32(c.offset));
    cd.append(c.name);
    if (z64) {
      le16(cd, kZip64ExtraId);
      le16(cd, 24);
      le64(cd, c.usize);
      le64(cd, c.csize);
      le64(cd, c.offset);
    }
    put(cd);
  }
  const uint64_t cd_size = offset_ - cd_offset;
  std::string end;
  if (need64) {
    const uint64_t end64_offset = offset_;
    le32(end, kEnd64Sig);
    le64(end, 44);
    le16(end, 45);
    le16(end, 45);
    le32(end, 0);
    le32(end, 0);
    le64(end, entries_.size());
    le64(end, entries_.size());
    le64(end, cd_size);
    le64(end, cd_offset);
    le32(end, kLocator64Sig);
    le32(end, 0);
    le64(end, end64_offset);
    le32(end, 1);
  }
  le32(end, kEndSig);
  le16(end, 0);
  le16(end, 0);
  uint16_t count = need64 ? k16Max : static_cast<uint16_t>(entries_.size());
  le16(end, count);
  le16(end, count);
  le32(end, need64 ? k32Max : clamp32(cd_size));
  le32(end, need64 ? k32Max : clamp32(cd_offset));
  le16(end, 0);
  put(end);
  if (file_) {
    int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) throw std::runtime_error("cannot write " + path_);
    return {};
  }
  return std::move(out_);
}

}  // namespace testkit
