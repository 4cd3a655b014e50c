#include "sheets/zip/zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace sheets::zip {
namespace {

constexpr std::uint32_t kEocdSig = 0x06054b50;
constexpr std::uint32_t kEocd64Sig = 0x06064b50;
constexpr std::uint32_t kEocd64LocSig = 0x07064b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::size_t kEocdSize = 22;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::size_t kInputChunk = 1 << 16;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}

class FileSource : public Source {
 public:
  explicit FileSource(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) platform::throw_file_error("Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      int e = errno;
      ::close(fd_);
      platform::throw_file_error("Cannot read file", path, e);
    }
    if (S_ISDIR(st.st_mode)) {
      ::close(fd_);
      platform::throw_file_error("Cannot open file", path, EISDIR);
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~FileSource() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  void read_at(std::uint64_t offset, void* buf, std::size_t n) const override {
    if (offset > size_ || n > size_ - offset) throw ZipError("the file is truncated");
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
      ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(offset));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw ZipError("the file cannot be read: " + platform::system_error_text(errno));
      }
      if (r == 0) throw ZipError("the file is truncated");
      p += r;
      n -= static_cast<std::size_t>(r);
      offset += static_cast<std::uint64_t>(r);
    }
  }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

class MemorySource : public Source {
 public:
  explicit MemorySource(std::string data) : data_(std::move(data)) {}
  std::uint64_t size() const override { return data_.size(); }
  void read_at(std::uint64_t offset, void* buf, std::size_t n) const override {
    if (offset > data_.size() || n > data_.size() - offset) throw ZipError("the file is truncated");
    std::memcpy(buf, data_.data() + offset, n);
  }

 private:
  std::string data_;
};

bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool is_compound_file(std::string_view head) {
  static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return head.size() >= 8 && std::memcmp(head.data(), sig, 8) == 0;
}

std::unique_ptr<Archive> Archive::open_file(const std::string& path) {
  return std::make_unique<Archive>(std::make_unique<FileSource>(path));
}

std::unique_ptr<Archive> Archive::open_memory(std::string data) {
  return std::make_unique<Archive>(std::make_unique<MemorySource>(std::move(data)));
}

Archive::Archive(std::unique_ptr<Source> source) : source_(std::move(source)) { read_directory(); }

void Archive::read_directory() {
  const std::uint64_t file_size = source_->size();
  if (file_size < kEocdSize) throw ZipError("the file is too short to be a zip package");
  const std::size_t tail_len = static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kEocdSize + kMaxComment));
  const std::uint64_t tail_off = file_size - tail_len;
  std::vector<unsigned char> tail(tail_len);
  source_->read_at(tail_off, tail.data(), tail_len);

  std::size_t eocd = std::string::npos;
  for (std::size_t i = tail_len - kEocdSize + 1; i-- > 0;) {
    if (le32(&tail[i]) == kEocdSig) {
      eocd = i;
      break;
    }
  }
  if (eocd == std::string::npos) throw ZipError("the end of its zip directory is missing (not a zip package, or truncated)");
  const unsigned char* e = &tail[eocd];
  std::uint64_t count = le16(e + 10);
  std::uint64_t cd_size = le32(e + 12);
  std::uint64_t cd_off = le32(e + 16);
  const std::uint64_t eocd_pos = tail_off + eocd;

  if (count == 0xFFFF || cd_size == 0xFFFFFFFFu || cd_off == 0xFFFFFFFFu) {
    // ZIP64: the locator stands right before the end record.
    if (eocd_pos < 20) throw ZipError("the ZIP64 directory locator is missing");
    unsigned char loc[20];
    source_->read_at(eocd_pos - 20, loc, 20);
    if (le32(loc) != kEocd64LocSig) throw ZipError("the ZIP64 directory locator is missing");
    std::uint64_t rec_off = le64(loc + 8);
    unsigned char rec[56];
    source_->read_at(rec_off, rec, 56);
    if (le32(rec) != kEocd64Sig) throw ZipError("the ZIP64 end of directory record is damaged");
    count = le64(rec + 32);
    cd_size = le64(rec + 40);
    cd_off = le64(rec + 48);
  }
  if (count > kMaxEntryCount) throw ZipError("the zip directory lists too many entries");
  if (cd_off > file_size || cd_size > file_size - cd_off) throw ZipError("the zip directory lies outside the file (truncated?)");
  if (cd_size < count * 46) throw ZipError("the zip directory is damaged");

  std::vector<unsigned char> cd(static_cast<std::size_t>(cd_size));
  if (cd_size > 0) source_->read_at(cd_off, cd.data(), cd.size());
  entries_.reserve(static_cast<std::size_t>(count));
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (cd.size() - pos < 46 || le32(&cd[pos]) != kCentralSig) throw ZipError("the zip directory is damaged");
    const unsigned char* h = &cd[pos];
    Entry en;
    en.flags = le16(h + 8);
    en.method = le16(h + 10);
    en.crc = le32(h + 16);
    en.compressed_size = le32(h + 20);
    en.size = le32(h + 24);
    std::size_t name_len = le16(h + 28), extra_len = le16(h + 30), comment_len = le16(h + 32);
    en.local_offset = le32(h + 42);
    if (cd.size() - pos - 46 < name_len + extra_len + comment_len) throw ZipError("the zip directory is damaged");
    en.name.assign(reinterpret_cast<const char*>(h + 46), name_len);
    // ZIP64 extra field: the 64-bit values, in order, for each field that is saturated.
    const unsigned char* x = h + 46 + name_len;
    std::size_t xp = 0;
    while (xp + 4 <= extra_len) {
      std::uint16_t id = le16(x + xp), len = le16(x + xp + 2);
      if (xp + 4 + len > extra_len) break;
      if (id == 0x0001) {
        const unsigned char* d = x + xp + 4;
        std::size_t dp = 0;
        auto take = [&](std::uint64_t& v) {
          if (v != 0xFFFFFFFFu) return;
          if (dp + 8 > len) throw ZipError("the ZIP64 fields of an entry are damaged");
          v = le64(d + dp);
          dp += 8;
        };
        take(en.size);
        take(en.compressed_size);
        take(en.local_offset);
      }
      xp += 4 + static_cast<std::size_t>(len);
    }
    pos += 46 + name_len + extra_len + comment_len;
    for (char& c : en.name)
      if (c == '\\') c = '/';
    entries_.push_back(std::move(en));
  }
}

const Entry* Archive::find(std::string_view name) const {
  if (!name.empty() && name.front() == '/') name.remove_prefix(1);
  for (const Entry& e : entries_)
    if (ascii_iequal(e.name, name)) return &e;
  return nullptr;
}

void Archive::account(std::uint64_t n) const {
  std::uint64_t t = total_.fetch_add(n) + n;
  if (t > kMaxTotalSize) throw ZipError("the package expands to more data than allowed (a zip bomb?)");
}

std::string Archive::read(const Entry& entry, std::uint64_t max_size) const {
  if (entry.size > max_size) throw ZipError("the part " + entry.name + " is larger than allowed");
  EntryReader r(*this, entry);
  std::string out;
  out.resize(static_cast<std::size_t>(entry.size));
  std::size_t got = 0;
  while (got < out.size()) {
    std::size_t n = r.read(out.data() + got, out.size() - got);
    if (n == 0) break;
    got += n;
  }
  char probe;
  if (r.read(&probe, 1) != 0) throw ZipError("the part " + entry.name + " is damaged (longer than recorded)");
  out.resize(got);
  return out;
}

struct EntryReader::Inflater {
  z_stream s{};
  bool live = false;
  ~Inflater() {
    if (live) inflateEnd(&s);
  }
};

EntryReader::EntryReader(const Archive& archive, const Entry& entry) : archive_(archive), entry_(entry) {
  if (entry_.flags & 0x0001) throw ZipError("the part " + entry_.name + " is encrypted");
  if (entry_.method != 0 && entry_.method != 8)
    throw ZipError("the part " + entry_.name + " uses an unsupported compression method (" + std::to_string(entry_.method) + ")");
  if (entry_.size > kMaxEntrySize) throw ZipError("the part " + entry_.name + " is larger than allowed (a zip bomb?)");
  unsigned char lh[30];
  archive_.source().read_at(entry_.local_offset, lh, 30);
  if (le32(lh) != kLocalSig) throw ZipError("the local header of " + entry_.name + " is damaged");
  data_offset_ = entry_.local_offset + 30 + le16(lh + 26) + le16(lh + 28);
  const std::uint64_t fsize = archive_.source().size();
  if (data_offset_ > fsize || entry_.compressed_size > fsize - data_offset_)
    throw ZipError("the part " + entry_.name + " is truncated");
  if (entry_.method == 0 && entry_.compressed_size != entry_.size)
    throw ZipError("the part " + entry_.name + " is damaged (stored sizes differ)");
  if (entry_.method == 8) {
    z_ = std::make_unique<Inflater>();
    if (inflateInit2(&z_->s, -MAX_WBITS) != Z_OK) throw ZipError("the decompressor cannot start");
    z_->live = true;
    in_.resize(kInputChunk);
  }
  crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
}

EntryReader::~EntryReader() = default;

void EntryReader::fill_input() {
  std::uint64_t left = entry_.compressed_size - in_pos_;
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, in_.size()));
  if (n > 0) archive_.source().read_at(data_offset_ + in_pos_, in_.data(), n);
  in_pos_ += n;
  z_->s.next_in = in_.data();
  z_->s.avail_in = static_cast<uInt>(n);
}

std::size_t EntryReader::read(char* buf, std::size_t n) {
  if (done_ || n == 0) return 0;
  std::size_t got = 0;
  if (entry_.method == 0) {
    std::uint64_t left = entry_.size - produced_;
    got = static_cast<std::size_t>(std::min<std::uint64_t>(left, n));
    if (got > 0) archive_.source().read_at(data_offset_ + produced_, buf, got);
  } else {
    n = std::min<std::size_t>(n, 1u << 30);
    z_->s.next_out = reinterpret_cast<Bytef*>(buf);
    z_->s.avail_out = static_cast<uInt>(n);
    while (z_->s.avail_out > 0 && !stream_end_) {
      if (z_->s.avail_in == 0) {
        if (in_pos_ >= entry_.compressed_size) throw ZipError("the part " + entry_.name + " is truncated or damaged");
        fill_input();
      }
      int rc = inflate(&z_->s, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        stream_end_ = true;
      } else if (rc != Z_OK) {
        throw ZipError("the part " + entry_.name + " is damaged (" + (z_->s.msg ? z_->s.msg : "bad compressed data") + ")");
      }
    }
    got = n - z_->s.avail_out;
  }
  produced_ += got;
  if (produced_ > entry_.size) throw ZipError("the part " + entry_.name + " is damaged (longer than recorded)");
  if (produced_ > kRatioGrace && produced_ / kMaxRatio > entry_.compressed_size)
    throw ZipError("the part " + entry_.name + " is compressed beyond the allowed ratio (a zip bomb?)");
  archive_.account(got);
  if (got > 0) crc_ = static_cast<std::uint32_t>(crc32(crc_, reinterpret_cast<const Bytef*>(buf), static_cast<uInt>(got)));
  bool at_end = entry_.method == 0 ? produced_ == entry_.size : stream_end_;
  if (at_end) {
    done_ = true;
    if (produced_ != entry_.size) throw ZipError("the part " + entry_.name + " is damaged (shorter than recorded)");
    if (crc_ != entry_.crc) throw ZipError("the part " + entry_.name + " is damaged (checksum mismatch)");
  }
  return got;
}

}  // namespace sheets::zip
