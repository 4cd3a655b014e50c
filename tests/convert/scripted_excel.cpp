#include "convert/scripted_excel.h"

#include <fstream>

#include "platform/path.h"
#include "platform/text.h"

namespace tabrix_test {

namespace {
const char* KindText(au::InvokeKind kind) {
  switch (kind) {
    case au::InvokeKind::PropertyGet:
      return "[get]";
    case au::InvokeKind::PropertyPut:
      return "[put]";
    default:
      return "";
  }
}
}  // namespace

// One object of the scripted application: the application itself, its workbooks
// collection, a workbook, a sheets collection or a sheet.
class ScriptedExcel::Obj : public au::Object {
 public:
  Obj(std::shared_ptr<ScriptedExcel> script, int app, std::string label, std::string file = {})
      : script_(std::move(script)), app_(app), label_(std::move(label)), file_(std::move(file)) {}

  au::Variant invoke(std::string_view name, au::InvokeKind kind, const std::vector<au::Variant>& args) override {
    std::string text = label_ + "." + std::string(name) + KindText(kind) + "(";
    for (std::size_t i = 0; i < args.size(); ++i) text += (i ? "," : "") + Render(args[i]);
    text += ")";
    script_->Record(app_, text);
    const std::string member(name);
    if (const ScriptedFailure* f = script_->FailureFor(label_, member, args)) throw f->error;

    if (label_ == "app") {
      if (member == "Version" && kind == au::InvokeKind::Method) return script_->version;
      if (member == "DisplayAlerts" && kind == au::InvokeKind::PropertyPut) return {};
      if (member == "Workbooks" && kind == au::InvokeKind::Method) return Make("workbooks");
      if (member == "Quit" && kind == au::InvokeKind::Method) return {};
      if (member == "Path" && kind == au::InvokeKind::Method) return au::Variant("/opt/office");
    } else if (label_ == "workbooks") {
      if (member == "Open" && kind == au::InvokeKind::Method) {
        const std::string file = args.at(0).as_string();
        if (script_->on_open) script_->on_open(file);
        if (!platform::path::file_exists(file)) {
          throw au::ObjectError{static_cast<std::int32_t>(0x800A03ECu),
                                "Sorry, we couldn't find " + file + ". Is it possible it was moved, renamed or deleted?"};
        }
        return Make("book", file);
      }
    } else if (label_ == "book") {
      if (member == "SaveAs" && kind == au::InvokeKind::Method) return SaveAs(args, "all sheets");
      if (member == "Sheets" && kind == au::InvokeKind::Method && args.empty()) return Make("sheets");
      if (member == "Sheets" && kind == au::InvokeKind::PropertyGet && args.size() == 1) {
        const std::int32_t n = args[0].as_int();
        if (n < 1 || n > script_->sheet_count) throw au::ObjectError{au::kBadIndex, ""};
        return Make("sheet" + std::to_string(n));
      }
      if (member == "ActiveSheet" && kind == au::InvokeKind::Method) return Make("active");
      if (member == "Close" && kind == au::InvokeKind::Method) return {};
      if (member == "HasVBProject" && kind == au::InvokeKind::Method) return au::Variant(false);
    } else if (label_ == "sheets") {
      if (member == "Count" && kind == au::InvokeKind::Method) return au::Variant(script_->sheet_count);
    } else {  // a sheet
      if (member == "SaveAs" && kind == au::InvokeKind::Method) return SaveAs(args, label_);
    }
    throw au::ObjectError{au::kUnknownName, ""};
  }

 private:
  au::Variant Make(const std::string& label, const std::string& file = {}) {
    return au::Variant(std::static_pointer_cast<au::Object>(
        std::make_shared<Obj>(script_, app_, label, file.empty() ? file_ : file)));
  }

  au::Variant SaveAs(const std::vector<au::Variant>& args, const std::string& what) {
    if (args.size() != 2 || args[1].as_int() != 6) throw au::ObjectError{au::kInvalidArg, "SaveAs: bad arguments"};
    const std::string target = args[0].as_string();
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << "csv of " << file_ << " (" << what << ")\r\n";
    out.close();
    if (!out) throw au::ObjectError{static_cast<std::int32_t>(0x800A03ECu), "Cannot access '" + target + "'."};
    return {};
  }

  std::shared_ptr<ScriptedExcel> script_;
  int app_;
  std::string label_;
  std::string file_;
};

std::shared_ptr<ScriptedExcel> ScriptedExcel::Install() {
  std::shared_ptr<ScriptedExcel> script(new ScriptedExcel());
  std::weak_ptr<ScriptedExcel> weak = script;
  au::register_class("Excel.Application", [weak]() -> au::ObjectPtr {
    auto s = weak.lock();
    if (!s) throw au::ObjectError{au::kClassNotRegistered, ""};
    return s->CreateApp();
  });
  return script;
}

ScriptedExcel::~ScriptedExcel() { au::unregister_class("Excel.Application"); }

au::ObjectPtr ScriptedExcel::CreateApp() {
  int id;
  {
    std::lock_guard lock(lock_);
    if (create_failure) {
      calls_.push_back({0, "create failed", std::this_thread::get_id()});
      throw *create_failure;
    }
    id = ++apps_;
    calls_.push_back({id, "create", std::this_thread::get_id()});
  }
  return std::make_shared<Obj>(shared_from_this(), id, "app");
}

void ScriptedExcel::Record(int app, const std::string& text) {
  std::lock_guard lock(lock_);
  calls_.push_back({app, text, std::this_thread::get_id()});
}

const ScriptedFailure* ScriptedExcel::FailureFor(const std::string& object, const std::string& member,
                                                 const std::vector<au::Variant>& args) const {
  std::lock_guard lock(lock_);
  for (const auto& f : failures) {
    if (f.object != object || f.member != member) continue;
    if (!f.file.empty()) {
      if (args.empty() || args[0].type() != au::Variant::Type::String) continue;
      if (!platform::text::contains(args[0].as_string(), f.file)) continue;
    }
    return &f;
  }
  return nullptr;
}

std::vector<ScriptedCall> ScriptedExcel::Calls() const {
  std::lock_guard lock(lock_);
  return calls_;
}

std::vector<std::string> ScriptedExcel::Texts(int app) const {
  std::vector<std::string> out;
  for (const auto& c : Calls()) {
    if (app == 0 || c.app == app) out.push_back(c.text);
  }
  return out;
}

int ScriptedExcel::CountOf(const std::string& text) const {
  int n = 0;
  const bool prefix = !text.empty() && text.back() == '(';
  for (const auto& c : Calls()) {
    if (prefix ? c.text.rfind(text, 0) == 0 : c.text == text) ++n;
  }
  return n;
}

int ScriptedExcel::AppsCreated() const {
  std::lock_guard lock(lock_);
  return apps_;
}

std::string ScriptedExcel::Render(const au::Variant& v) {
  switch (v.type()) {
    case au::Variant::Type::Empty:
      return "empty";
    case au::Variant::Type::Null:
      return "null";
    case au::Variant::Type::Bool:
      return v.as_bool() ? "true" : "false";
    case au::Variant::Type::Int:
      return std::to_string(v.as_int());
    case au::Variant::Type::Double:
      return "double:" + v.as_string();
    case au::Variant::Type::String:
      return "\"" + v.as_string() + "\"";
    case au::Variant::Type::Object:
      return "object";
    case au::Variant::Type::Error:
      return v.is_missing() ? "missing" : "error";
  }
  return "?";
}

}  // namespace tabrix_test
