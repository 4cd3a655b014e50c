#include "sheets/engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/path.h"
#include "sheets/csv_writer.h"
#include "sheets/xlsx/package.h"
#include "sheets/xlsx/sheet_reader.h"
#include "sheets/zip/zip.h"

namespace sheets {
namespace {

constexpr std::size_t kOutputBuffer = 64 << 10;
// How much of a compound file is searched for the marks of an encrypted package.
constexpr std::size_t kCompoundProbe = 1 << 20;

std::string not_found(const std::string& path) {
  return "Sorry, we couldn't find " + path + ". Is it possible it was moved, renamed or deleted?";
}

bool contains_utf16(std::string_view hay, std::string_view ascii) {
  std::string needle;
  for (char c : ascii) {
    needle += c;
    needle += '\0';
  }
  return hay.find(needle) != std::string_view::npos;
}

// A file that is not a zip package: say what it is when we can tell.
[[noreturn]] void reject_compound(const std::string& name, std::string_view head) {
  if (contains_utf16(head, "EncryptedPackage") || contains_utf16(head, "EncryptionInfo"))
    throw Error("The workbook \"" + name + "\" is protected by a password and cannot be opened");
  throw Error("The workbook \"" + name + "\" is in the binary .xls format, which this engine cannot read yet");
}

// A failure to write the target (as opposed to a failure to read the workbook).
class TargetError : public Error {
 public:
  using Error::Error;
};

class FileOutput : public CsvOutput {
 public:
  FileOutput(std::string target) : target_(std::move(target)), tmp_(platform::file::temp_name_beside(target_)) {
    f_ = std::fopen(tmp_.c_str(), "wb");
    if (!f_) fail(errno);
    buf_.resize(kOutputBuffer);
    std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
  }
  ~FileOutput() override {
    if (f_) {
      std::fclose(f_);
      ::unlink(tmp_.c_str());
    }
  }
  void write(const char* data, std::size_t n) override {
    if (std::fwrite(data, 1, n, f_) != n) fail(errno);
  }
  void commit() {
    int rc = std::fclose(f_);
    f_ = nullptr;
    if (rc != 0) {
      int e = errno;
      ::unlink(tmp_.c_str());
      fail(e);
    }
    if (std::rename(tmp_.c_str(), target_.c_str()) != 0) {
      int e = errno;
      ::unlink(tmp_.c_str());
      fail(e);
    }
  }

 private:
  [[noreturn]] void fail(int code) {
    throw TargetError("Cannot create file \"" + target_ + "\". " + platform::system_error_text(code));
  }
  std::string target_, tmp_;
  std::FILE* f_ = nullptr;
  std::vector<char> buf_;
};

}  // namespace

const char* engine_version() { return "16.0"; }

Workbook::~Workbook() = default;

void Workbook::damaged(const std::string& why) const {
  throw Error("The workbook \"" + path_ + "\" cannot be read: " + why);
}

std::unique_ptr<Workbook> Workbook::open(const std::string& path) {
  if (path.empty() || !platform::path::file_exists(path)) throw Error(not_found(path));
  std::unique_ptr<Workbook> wb(new Workbook());
  wb->path_ = path;
  std::unique_ptr<zip::Archive> archive;
  try {
    archive = zip::Archive::open_file(path);
  } catch (const zip::ZipError& e) {
    std::string head;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      head.resize(kCompoundProbe);
      ssize_t n = ::read(fd, head.data(), head.size());
      head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      ::close(fd);
    }
    if (zip::is_compound_file(head)) reject_compound(path, head);
    wb->damaged(std::string("it is not a workbook or it is damaged (") + e.what() + ")");
  } catch (const platform::FileError& e) {
    if (e.code() == ENOENT) throw Error(not_found(path));
    throw Error(e.what());
  }
  try {
    wb->package_ = std::make_unique<xlsx::Package>(std::move(archive));
  } catch (const Error& e) {
    wb->damaged(e.what());
  }
  for (const auto& s : wb->package_->sheets()) wb->sheets_.push_back(SheetInfo{s.name, s.chart, s.visibility});
  return wb;
}

std::unique_ptr<Workbook> Workbook::open_memory(std::string data, const std::string& name) {
  std::unique_ptr<Workbook> wb(new Workbook());
  wb->path_ = name;
  if (zip::is_compound_file(data)) reject_compound(name, data);
  try {
    wb->package_ = std::make_unique<xlsx::Package>(zip::Archive::open_memory(std::move(data)));
  } catch (const Error& e) {
    wb->damaged(e.what());
  }
  for (const auto& s : wb->package_->sheets()) wb->sheets_.push_back(SheetInfo{s.name, s.chart, s.visibility});
  return wb;
}

int Workbook::active_sheet() const { return package_->active_sheet(); }
bool Workbook::date1904() const { return package_->date1904(); }
bool Workbook::has_vba_project() const { return package_->has_vba_project(); }

void Workbook::check_sheet(int index) const {
  if (index < 0 || index >= static_cast<int>(sheets_.size())) throw Error("Invalid sheet index " + std::to_string(index + 1));
  if (sheets_[static_cast<std::size_t>(index)].chart)
    throw Error("The sheet \"" + sheets_[static_cast<std::size_t>(index)].name +
                "\" is a chart sheet and cannot be saved as CSV");
}

namespace {

void write_sheet(const xlsx::Package& pkg, const xlsx::SheetPart& sheet, CsvOutput& out) {
  StyleFormats formats(pkg.styles());
  CsvBuilder builder(pkg.shared_strings(), formats, pkg.date1904());
  const zip::Entry* e = sheet.part.empty() ? nullptr : pkg.archive().find(sheet.part);
  if (!e) throw Error("the part of the sheet \"" + sheet.name + "\" is missing");
  auto in = pkg.archive().stream(*e);
  xlsx::scan_sheet(*in, builder, pkg.date1904());
  xlsx::read_sheet_notes(pkg.archive(), sheet.part, [&](std::uint32_t row, std::uint32_t col) { builder.note(row, col); });
  builder.finish(out);
}

}  // namespace

void Workbook::write_csv(int index, std::string& out) const {
  check_sheet(index);
  StringOutput o(out);
  try {
    write_sheet(*package_, package_->sheets()[static_cast<std::size_t>(index)], o);
  } catch (const Error& e) {
    damaged(e.what());
  }
}

void Workbook::save_csv(int index, const std::string& target) const {
  check_sheet(index);
  FileOutput o(target);
  try {
    write_sheet(*package_, package_->sheets()[static_cast<std::size_t>(index)], o);
  } catch (const TargetError&) {
    throw;
  } catch (const Error& e) {
    damaged(e.what());
  }
  o.commit();
}

}  // namespace sheets
