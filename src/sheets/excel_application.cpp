#include "sheets/excel_application.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/text.h"
#include "sheets/engine.h"

namespace sheets {
namespace {

namespace au = platform::automation;
using au::InvokeKind;
using au::ObjectError;
using au::Variant;

// Member names are compared without regard to ASCII case.
bool is(std::string_view a, std::string_view b) { return platform::text::equals_ascii_nocase(a, b); }

[[noreturn]] void unknown() { throw ObjectError{au::kUnknownName, {}}; }
[[noreturn]] void fail(const std::string& text) { throw ObjectError{au::kException, text}; }
[[noreturn]] void bad_index() { throw ObjectError{au::kBadIndex, {}}; }

const Variant& arg(const std::vector<Variant>& args, std::size_t i) {
  static const Variant absent = Variant::missing();
  return i < args.size() ? args[i] : absent;
}

// Runs an engine call, turning its failures into the object's exception.
template <class F>
auto guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const ObjectError&) {
    throw;
  } catch (const au::Error&) {
    throw;
  } catch (const platform::Exception& e) {
    fail(e.what());
  } catch (const std::bad_alloc&) {
    // A workbook that asks for more memory than there is fails alone; the worker
    // that converts it goes on with the next file.
    fail("Not enough memory to complete this operation");
  } catch (const std::exception& e) {
    fail(e.what());
  }
}

void check_format(const std::vector<Variant>& args) {
  const Variant& f = arg(args, 1);
  if (f.is_absent()) fail("Only the CSV file format (" + std::to_string(kCsvFileFormat) + ") can be saved");
  if (f.as_int() != kCsvFileFormat)
    fail("The file format " + f.as_string() + " cannot be saved; only the CSV file format (" + std::to_string(kCsvFileFormat) +
         ") is supported");
}

std::string target_name(const std::vector<Variant>& args) {
  const Variant& n = arg(args, 0);
  if (n.is_absent()) fail("SaveAs needs a file name");
  std::string name = n.as_string();
  if (name.empty()) fail("SaveAs needs a file name");
  return name;
}

// The state one workbook shares with the objects that stand for its parts.
struct OpenBook {
  std::unique_ptr<Workbook> book;
  bool closed = false;
  const Workbook& get() const {
    if (closed) fail("The workbook has been closed");
    return *book;
  }
};

class SheetObject : public au::Object {
 public:
  SheetObject(std::shared_ptr<OpenBook> book, int index) : book_(std::move(book)), index_(index) {}
  Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) override {
    const Workbook& wb = book_->get();
    const SheetInfo& info = wb.sheets()[static_cast<std::size_t>(index_)];
    if (is(name, "SaveAs") && kind != InvokeKind::PropertyPut) {
      std::string target = target_name(args);
      check_format(args);
      guarded([&] { wb.save_csv(index_, target); });
      return {};
    }
    if (kind == InvokeKind::PropertyPut) unknown();
    if (is(name, "Name")) return Variant(info.name);
    if (is(name, "Index")) return Variant(static_cast<std::int32_t>(index_ + 1));
    if (is(name, "Visible")) {
      // The application's values: visible -1, hidden 0, very hidden 2.
      return Variant(static_cast<std::int32_t>(info.visibility == 0 ? -1 : info.visibility == 1 ? 0 : 2));
    }
    unknown();
  }

 private:
  std::shared_ptr<OpenBook> book_;
  int index_;
};

// Sheets (every sheet) or Worksheets (worksheets only) of a workbook.
class SheetsObject : public au::Object {
 public:
  SheetsObject(std::shared_ptr<OpenBook> book, bool worksheets_only) : book_(std::move(book)), only_(worksheets_only) {}

  std::vector<int> members() const {
    std::vector<int> out;
    const auto& sheets = book_->get().sheets();
    for (int i = 0; i < static_cast<int>(sheets.size()); ++i)
      if (!only_ || !sheets[static_cast<std::size_t>(i)].chart) out.push_back(i);
    return out;
  }

  au::ObjectPtr item(const Variant& which) const {
    std::vector<int> list = members();
    if (which.type() == Variant::Type::String) {
      std::string n = which.as_string();
      for (int i : list)
        if (platform::text::equals_nocase(book_->get().sheets()[static_cast<std::size_t>(i)].name, n)) return std::make_shared<SheetObject>(book_, i);
      bad_index();
    }
    if (which.is_absent()) bad_index();
    std::int32_t k = which.as_int();
    if (k < 1 || k > static_cast<std::int32_t>(list.size())) bad_index();
    return std::make_shared<SheetObject>(book_, list[static_cast<std::size_t>(k - 1)]);
  }

  Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) override {
    if (kind == InvokeKind::PropertyPut) unknown();
    if (is(name, "Count")) return Variant(static_cast<std::int32_t>(members().size()));
    if (is(name, "Item") || name.empty()) return Variant(item(arg(args, 0)));
    unknown();
  }

 private:
  std::shared_ptr<OpenBook> book_;
  bool only_;
};

class Application;

class WorkbookObject : public au::Object {
 public:
  explicit WorkbookObject(std::shared_ptr<OpenBook> book) : book_(std::move(book)) {}

  Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) override {
    if (is(name, "Close") && kind != InvokeKind::PropertyPut) {
      // Nothing is ever changed, so there is nothing to save whatever SaveChanges says.
      book_->closed = true;
      return {};
    }
    const Workbook& wb = book_->get();
    if (kind == InvokeKind::PropertyPut) unknown();
    if (is(name, "SaveAs")) {
      std::string target = target_name(args);
      check_format(args);
      guarded([&] { wb.save_csv(wb.active_sheet(), target); });
      return {};
    }
    if (is(name, "Sheets") || is(name, "Worksheets")) {
      auto coll = std::make_shared<SheetsObject>(book_, is(name, "Worksheets"));
      if (args.empty() || arg(args, 0).is_absent()) return Variant(au::ObjectPtr(coll));
      return Variant(coll->item(arg(args, 0)));
    }
    if (is(name, "ActiveSheet")) return Variant(au::ObjectPtr(std::make_shared<SheetObject>(book_, wb.active_sheet())));
    if (is(name, "HasVBProject")) return Variant(wb.has_vba_project());
    if (is(name, "Name")) return Variant(platform::path::file_name_part(wb.path()));
    if (is(name, "FullName")) return Variant(wb.path());
    if (is(name, "Path")) return Variant(platform::path::exclude_trailing_delim(platform::path::folder_part(wb.path())));
    unknown();
  }

  bool closed() const { return book_->closed; }
  void close() { book_->closed = true; }

 private:
  std::shared_ptr<OpenBook> book_;
};

struct AppState {
  bool display_alerts = true;
  std::vector<std::shared_ptr<WorkbookObject>> open;
  void prune() {
    open.erase(std::remove_if(open.begin(), open.end(), [](const auto& w) { return w->closed(); }), open.end());
  }
};

class WorkbooksObject : public au::Object {
 public:
  explicit WorkbooksObject(std::shared_ptr<AppState> app) : app_(std::move(app)) {}

  Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) override {
    if (kind == InvokeKind::PropertyPut) unknown();
    if (is(name, "Open")) {
      const Variant& file = arg(args, 0);
      if (file.is_absent()) fail("Open needs a file name");
      std::string path = file.as_string();
      // UpdateLinks, ReadOnly and Format change nothing here: the engine never
      // writes into the workbook and has no links to update. A password cannot
      // open an encrypted package either, so such a workbook fails at once.
      auto book = std::make_shared<OpenBook>();
      book->book = guarded([&] { return Workbook::open(path); });
      auto obj = std::make_shared<WorkbookObject>(book);
      app_->prune();
      app_->open.push_back(obj);
      return Variant(au::ObjectPtr(obj));
    }
    if (is(name, "Count")) {
      app_->prune();
      return Variant(static_cast<std::int32_t>(app_->open.size()));
    }
    if (is(name, "Item") || name.empty()) {
      app_->prune();
      std::int32_t k = arg(args, 0).as_int();
      if (k < 1 || k > static_cast<std::int32_t>(app_->open.size())) bad_index();
      return Variant(au::ObjectPtr(app_->open[static_cast<std::size_t>(k - 1)]));
    }
    unknown();
  }

 private:
  std::shared_ptr<AppState> app_;
};

class Application : public au::Object {
 public:
  Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) override {
    if (is(name, "DisplayAlerts")) {
      if (kind == InvokeKind::PropertyPut) {
        state_->display_alerts = arg(args, args.empty() ? 0 : args.size() - 1).as_bool();
        return {};
      }
      return Variant(state_->display_alerts);
    }
    if (kind == InvokeKind::PropertyPut) unknown();
    if (is(name, "Version")) return Variant(engine_version());
    if (is(name, "Workbooks")) return Variant(au::ObjectPtr(std::make_shared<WorkbooksObject>(state_)));
    if (is(name, "Quit")) {
      for (auto& w : state_->open) w->close();
      state_->open.clear();
      return {};
    }
    if (is(name, "Path")) return Variant(platform::path::exclude_trailing_delim(platform::path::folder_part(platform::path::program_file())));
    unknown();
  }

 private:
  std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
};

}  // namespace

au::ObjectPtr create_excel_application() { return std::make_shared<Application>(); }

void register_excel_application() { au::register_class("Excel.Application", [] { return create_excel_application(); }); }

}  // namespace sheets
