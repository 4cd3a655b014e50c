// Zip container reader: central directory (with ZIP64), stored and deflated
// entries, entries written with data descriptors. Entries are read as streams so
// that a large part never has to be held in memory, and every read is bounded by
// the named limits below, so that a hostile archive fails instead of exhausting
// memory or time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/error.h"

namespace sheets::zip {

// Largest uncompressed size of one entry.
inline constexpr std::uint64_t kMaxEntrySize = 4ull << 30;
// Largest uncompressed size of everything read from one archive.
inline constexpr std::uint64_t kMaxTotalSize = 16ull << 30;
// Largest ratio of uncompressed to compressed size, checked once an entry has
// produced more than kRatioGrace bytes.
inline constexpr std::uint64_t kMaxRatio = 1000;
inline constexpr std::uint64_t kRatioGrace = 1ull << 20;
// Largest number of entries in the central directory.
inline constexpr std::size_t kMaxEntryCount = 100000;

// A failure of the container; the text says what is wrong (without the file name).
class ZipError : public Error {
 public:
  using Error::Error;
};

struct Entry {
  std::string name;
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint64_t local_offset = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

// Random access to the bytes of the archive.
class Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly n bytes at offset; throws ZipError when they are not there.
  virtual void read_at(std::uint64_t offset, void* buf, std::size_t n) const = 0;
};

class Archive;

// The uncompressed bytes of one entry, in order. The size and checksum are
// checked when the end is reached.
class EntryReader {
 public:
  EntryReader(const Archive& archive, const Entry& entry);
  ~EntryReader();
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // Fills up to n bytes; returns 0 at the end of the entry. Throws ZipError.
  std::size_t read(char* buf, std::size_t n);
  std::uint64_t size() const { return entry_.size; }

 private:
  void fill_input();

  const Archive& archive_;
  Entry entry_;
  std::uint64_t data_offset_ = 0;
  std::uint64_t in_pos_ = 0;   // compressed bytes consumed from the source
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0;
  bool done_ = false;
  bool stream_end_ = false;
  struct Inflater;
  std::unique_ptr<Inflater> z_;
  std::vector<unsigned char> in_;
};

class Archive {
 public:
  // Opens the file and reads its central directory. Throws ZipError when the file
  // is not a zip archive or its directory is damaged, platform::FileError when it
  // cannot be read.
  static std::unique_ptr<Archive> open_file(const std::string& path);
  // The same over bytes in memory (tests, fuzzing).
  static std::unique_ptr<Archive> open_memory(std::string data);

  explicit Archive(std::unique_ptr<Source> source);

  const std::vector<Entry>& entries() const { return entries_; }
  // The entry of that name (compared without regard to ASCII case, as package
  // part names are); nullptr when there is none.
  const Entry* find(std::string_view name) const;
  // Reads a whole entry into memory; fails when it is larger than max_size.
  std::string read(const Entry& entry, std::uint64_t max_size) const;
  std::unique_ptr<EntryReader> stream(const Entry& entry) const {
    return std::make_unique<EntryReader>(*this, entry);
  }

  const Source& source() const { return *source_; }
  // Counts bytes produced by every reader of this archive against kMaxTotalSize.
  void account(std::uint64_t n) const;

 private:
  void read_directory();

  std::unique_ptr<Source> source_;
  std::vector<Entry> entries_;
  mutable std::atomic<std::uint64_t> total_{0};
};

// True when the bytes start with the signature of a compound document (the
// binary .xls format, and the wrapper of password-encrypted OOXML packages).
bool is_compound_file(std::string_view head);

}  // namespace sheets::zip
