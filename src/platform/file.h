// File helpers: whole-file reading and writing, deletion and moving, file times,
// the read-only attribute and folder listings.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::file {

// Reads the whole file. Throws FileError when it cannot be opened or read.
std::string read_all(const std::string& path);

// Creates or truncates the file and writes data. Throws FileError.
void write_all(const std::string& path, std::string_view data);

// Writes data under a temporary name in the same folder and renames it into place
// when complete, so the target never holds a half-written file. Throws FileError.
void write_all_atomic(const std::string& path, std::string_view data);

// A temporary name beside path, unique within this process and machine.
std::string temp_name_beside(const std::string& path);

// Deletes a file; false when it could not be deleted. Never throws.
bool remove_file(const std::string& path) noexcept;
// Renames a file, replacing nothing: false when the target exists or the move fails.
bool move_file(const std::string& from, const std::string& to) noexcept;

struct Times {
  timespec access{};
  timespec modification{};
  timespec status_change{};  // the nearest this platform has to a creation time
};
std::optional<Times> get_times(const std::string& path) noexcept;
// Sets access and modification times (the creation time cannot be set here).
bool set_times(const std::string& path, const Times& t) noexcept;

bool is_read_only(const std::string& path) noexcept;
// Clears or sets every write permission bit; false on failure.
bool set_read_only(const std::string& path, bool read_only) noexcept;

struct DirEntry {
  std::string name;
  bool is_dir = false;       // a folder, or a link to one
  bool is_symlink = false;
};
// Lists a folder (without "." and ".."), in the system's order. Empty when the
// folder cannot be listed.
std::vector<DirEntry> list_dir(const std::string& dir);

// Identity of a folder, for recognising a folder reached again through a link.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> file_id(const std::string& path) noexcept;

}  // namespace platform::file
