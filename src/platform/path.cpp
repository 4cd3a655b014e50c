#include "platform/path.h"

#include <cerrno>
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::path {

std::size_t last_delim(std::string_view p) { return p.rfind(kDelim); }

std::string folder_part(std::string_view p) {
  auto i = last_delim(p);
  return i == std::string_view::npos ? std::string() : std::string(p.substr(0, i + 1));
}

std::string file_name_part(std::string_view p) {
  auto i = last_delim(p);
  return std::string(i == std::string_view::npos ? p : p.substr(i + 1));
}

std::string extension(std::string_view p) {
  auto dot = p.rfind('.');
  if (dot == std::string_view::npos) return {};
  auto d = last_delim(p);
  if (d != std::string_view::npos && dot < d) return {};
  return std::string(p.substr(dot));
}

std::string change_extension(std::string_view p, std::string_view ext) {
  auto e = extension(p);
  std::string r(p.substr(0, p.size() - e.size()));
  r += ext;
  return r;
}

std::string include_trailing_delim(std::string_view p) {
  std::string r(p);
  if (r.empty() || r.back() != kDelim) r += kDelim;
  return r;
}

std::string exclude_trailing_delim(std::string_view p) {
  std::string r(p);
  if (r.size() > 1 && r.back() == kDelim) r.pop_back();
  return r;
}

std::string join(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string r = include_trailing_delim(folder);
  while (!name.empty() && name.front() == kDelim) name.remove_prefix(1);
  r += name;
  return r;
}

bool is_absolute(std::string_view p) { return !p.empty() && p.front() == kDelim; }

std::string absolute(std::string_view p) {
  if (is_absolute(p)) return std::string(p);
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return std::string(p);
  return join(buf, p);
}

bool dir_exists(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_exists(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool exists(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0;
}

bool make_dirs(const std::string& p) {
  if (p.empty()) return false;
  std::string d = exclude_trailing_delim(p);
  if (dir_exists(d)) return true;
  // Create each missing level from the top down.
  for (std::size_t i = 1; i <= d.size(); ++i) {
    if (i == d.size() || d[i] == kDelim) {
      std::string part = d.substr(0, i);
      if (!dir_exists(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return dir_exists(d);
}

namespace {
std::mutex g_program_mutex;
std::string g_program_override;
}  // namespace

std::string program_file() {
  {
    std::lock_guard lock(g_program_mutex);
    if (!g_program_override.empty()) return g_program_override;
  }
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

void set_program_file_for_testing(const std::string& p) {
  std::lock_guard lock(g_program_mutex);
  g_program_override = p;
}

}  // namespace platform::path
