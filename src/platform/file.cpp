#include "platform/file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/path.h"

namespace platform::file {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

void write_fd(int fd, std::string_view data, const std::string& path) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_file_error("Cannot write file", path, errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string read_all(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw_file_error("Cannot open file", path, errno);
  struct stat st {};
  if (fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) throw_file_error("Cannot open file", path, EISDIR);
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_file_error("Cannot read file", path, errno);
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return data;
}

void write_all(const std::string& path, std::string_view data) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw_file_error("Cannot create file", path, errno);
  write_fd(fd.get(), data, path);
  if (::close(fd.release()) != 0) throw_file_error("Cannot write file", path, errno);
}

std::string temp_name_beside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path::folder_part(path) + ".~" + path::file_name_part(path) + "." + std::to_string(::getpid()) + "." +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

void write_all_atomic(const std::string& path, std::string_view data) {
  std::string tmp = temp_name_beside(path);
  try {
    write_all(tmp, data);
  } catch (const FileError& e) {
    ::unlink(tmp.c_str());
    // The message names the file the caller asked for, not the temporary one.
    bool writing = std::string_view(e.what()).starts_with("Cannot write");
    throw_file_error(writing ? "Cannot write file" : "Cannot create file", path, e.code());
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    throw_file_error("Cannot create file", path, e);
  }
}

bool remove_file(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0; }

bool move_file(const std::string& from, const std::string& to) noexcept {
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<Times> get_times(const std::string& path) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  Times t;
  t.access = st.st_atim;
  t.modification = st.st_mtim;
  t.status_change = st.st_ctim;
  return t;
}

bool set_times(const std::string& path, const Times& t) noexcept {
  timespec ts[2] = {t.access, t.modification};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

bool is_read_only(const std::string& path) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool set_read_only(const std::string& path, bool read_only) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t m = st.st_mode & 07777;
  m = read_only ? (m & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (m | S_IWUSR);
  return ::chmod(path.c_str(), m) == 0;
}

std::vector<DirEntry> list_dir(const std::string& dir) {
  std::vector<DirEntry> out;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = std::string(name);
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat st {};
      std::string full = path::join(dir, entry.name);
      struct stat lst {};
      if (::lstat(full.c_str(), &lst) == 0) entry.is_symlink = S_ISLNK(lst.st_mode);
      if (::stat(full.c_str(), &st) == 0) entry.is_dir = S_ISDIR(st.st_mode);
    } else {
      entry.is_dir = type == DT_DIR;
    }
    out.push_back(std::move(entry));
  }
  ::closedir(d);
  return out;
}

std::optional<FileId> file_id(const std::string& path) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace platform::file
