// A scripted stand-in for the spreadsheet application, registered under
// "Excel.Application". It records every call (object, member, kind, arguments),
// writes a small CSV file for every successful "SaveAs", and can be told to fail
// a given call or the creation itself.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.h"

namespace tabrix_test {

namespace au = platform::automation;

struct ScriptedCall {
  int app = 0;             // the application instance (1, 2, ...) the call belongs to
  std::string text;        // object.member[kind](args), e.g. book.SaveAs("/out/a.csv",6)
  std::thread::id thread;  // the calling thread
};

// Fails the call whose object and member match, and whose first argument (as text)
// contains `file` when that is not empty. Objects: "app", "workbooks", "book",
// "sheets", "sheet<n>", "active".
struct ScriptedFailure {
  std::string object;
  std::string member;
  std::string file;
  au::ObjectError error;
};

class ScriptedExcel : public std::enable_shared_from_this<ScriptedExcel> {
 public:
  // Registers this script under "Excel.Application" (replacing any other class);
  // the destructor of the returned guard unregisters it.
  static std::shared_ptr<ScriptedExcel> Install();
  ~ScriptedExcel();

  // Settings, to be changed before the workers start.
  au::Variant version = au::Variant("16.0");
  std::int32_t sheet_count = 3;
  std::optional<au::ObjectError> create_failure;
  std::vector<ScriptedFailure> failures;
  // Called at the start of every "Open" with the file name (on the worker's thread).
  std::function<void(const std::string&)> on_open;

  // Every call so far.
  std::vector<ScriptedCall> Calls() const;
  // The texts of the calls, optionally only those of one application instance.
  std::vector<std::string> Texts(int app = 0) const;
  // How many calls have this text, or start with it when it ends with "(".
  int CountOf(const std::string& text) const;
  int AppsCreated() const;

  // Renders arguments as the journal does: "text" quoted, numbers, true/false,
  // missing, null, empty.
  static std::string Render(const au::Variant& v);

 private:
  class Obj;
  friend class Obj;
  ScriptedExcel() = default;
  au::ObjectPtr CreateApp();
  void Record(int app, const std::string& text);
  const ScriptedFailure* FailureFor(const std::string& object, const std::string& member,
                                    const std::vector<au::Variant>& args) const;

  mutable std::mutex lock_;
  std::vector<ScriptedCall> calls_;
  int apps_ = 0;
};

}  // namespace tabrix_test
