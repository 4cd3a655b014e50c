// A small in-process automation runtime: variants, objects invoked late-bound by
// member name with positional (and omitted) arguments, per-thread initialisation,
// and object creation from a ProgID through a registry that components register
// into (the spreadsheet engine registers "Excel.Application"; tests register
// scripted stand-ins).
//
// Failures reach callers as automation::Error, whose text follows these rules:
// - the object reported an exception with a description: that description, with
//   trailing blanks, control characters and "." removed;
// - otherwise (or with an empty description): the system's text for the code, or
//   "OLE error %.8x" with the code when there is none;
// - a member name the object does not know: "Method '<name>' not supported by
//   automation object";
// - a failed creation: the system's text for the code, then ", ProgID: " and the
//   ProgID in double quotes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"

namespace platform::automation {

// Status codes (the automation standard's values).
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001u);
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);
inline constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kMemberNotFound = static_cast<std::int32_t>(0x80020003u);
inline constexpr std::int32_t kParamNotFound = static_cast<std::int32_t>(0x80020004u);
inline constexpr std::int32_t kTypeMismatch = static_cast<std::int32_t>(0x80020005u);
inline constexpr std::int32_t kUnknownName = static_cast<std::int32_t>(0x80020006u);
inline constexpr std::int32_t kException = static_cast<std::int32_t>(0x80020009u);
inline constexpr std::int32_t kOverflow = static_cast<std::int32_t>(0x8002000Au);
inline constexpr std::int32_t kBadIndex = static_cast<std::int32_t>(0x8002000Bu);
inline constexpr std::int32_t kBadParamCount = static_cast<std::int32_t>(0x8002000Eu);
inline constexpr std::int32_t kNotInitialized = static_cast<std::int32_t>(0x800401F0u);
inline constexpr std::int32_t kInvalidClassString = static_cast<std::int32_t>(0x800401F3u);
inline constexpr std::int32_t kClassNotRegistered = static_cast<std::int32_t>(0x80040154u);

class Object;
using ObjectPtr = std::shared_ptr<Object>;

class Variant {
 public:
  enum class Type { Empty, Null, Bool, Int, Double, String, Object, Error };

  Variant() = default;
  Variant(bool b) : v_(b) {}
  Variant(std::int32_t i) : v_(i) {}
  Variant(double d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(ObjectPtr o) : v_(std::move(o)) {}

  static Variant null();
  static Variant error(std::int32_t code);
  // The value passed for an omitted argument (an error value holding kParamNotFound),
  // so that the callee uses its own default for that position.
  static Variant missing() { return error(kParamNotFound); }

  Type type() const;
  bool is_empty() const { return type() == Type::Empty; }
  bool is_null() const { return type() == Type::Null; }
  bool is_object() const { return type() == Type::Object; }
  bool is_missing() const { return type() == Type::Error && error_code() == kParamNotFound; }
  // Empty, null and omitted values count as absent arguments.
  bool is_absent() const { return is_empty() || is_null() || is_missing(); }

  // Conversions under the automation rules; a value that cannot be converted
  // throws Error with kTypeMismatch ("Type mismatch"). Text converts to a number
  // with "." as the decimal point (blanks around it allowed); true converts to -1;
  // numbers convert to text in their shortest form.
  bool as_bool() const;
  std::int32_t as_int() const;  // rounds half to even like the standard; overflow throws kOverflow
  double as_double() const;
  std::string as_string() const;
  ObjectPtr as_object() const;  // throws kTypeMismatch when not an object
  std::int32_t error_code() const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct ErrorTag {
    std::int32_t code;
  };
  std::variant<std::monostate, NullTag, bool, std::int32_t, double, std::string, ObjectPtr, ErrorTag> v_;
};

enum class InvokeKind {
  Method,       // a method call or a property read, whichever the member is
  PropertyGet,  // a property read (with arguments: an indexed property)
  PropertyPut,  // a property write; the value is the last argument
};

// What an object throws from invoke() to report a failure. With a description it
// stands for an exception reported by the object; code kUnknownName means that the
// object does not know the member name.
struct ObjectError {
  std::int32_t code = kFail;
  std::string description;
};

class Object {
 public:
  virtual ~Object() = default;
  // Late-bound call of a member by name (compare names without regard to ASCII
  // case). args holds the positional arguments in order.
  virtual Variant invoke(std::string_view name, InvokeKind kind, const std::vector<Variant>& args) = 0;
};

// A failed automation call or creation, with its code and its text.
class Error : public Exception {
 public:
  Error(std::int32_t code, const std::string& message) : Exception(message), code_(code) {}
  std::int32_t code() const noexcept { return code_; }

 private:
  std::int32_t code_;
};

// Calls through the runtime: failures of the object become Error with the texts
// above.
Variant invoke(const ObjectPtr& obj, std::string_view name, InvokeKind kind, const std::vector<Variant>& args = {});
inline Variant call(const ObjectPtr& obj, std::string_view name, const std::vector<Variant>& args = {}) {
  return invoke(obj, name, InvokeKind::Method, args);
}
inline Variant get(const ObjectPtr& obj, std::string_view name, const std::vector<Variant>& args = {}) {
  return invoke(obj, name, InvokeKind::PropertyGet, args);
}
inline void put(const ObjectPtr& obj, std::string_view name, const Variant& value) {
  invoke(obj, name, InvokeKind::PropertyPut, {value});
}

// Per-thread initialisation; repeating it on a thread is harmless. Objects can be
// created only on an initialised thread.
void initialize_thread();
bool thread_initialized();

using Factory = std::function<ObjectPtr()>;
// Registers (or replaces) the factory of a ProgID, compared without regard to case.
void register_class(const std::string& prog_id, Factory factory);
void unregister_class(const std::string& prog_id);
bool is_registered(const std::string& prog_id);
// Creates an object; throws Error "<text>, ProgID: \"<prog_id>\"" on failure.
ObjectPtr create_object(const std::string& prog_id);

// The system's text for a status code, without trailing blanks and "."; empty when
// the code has none.
std::string system_message(std::int32_t code);
// system_message, or "OLE error %.8x" when there is none.
std::string error_text(std::int32_t code);
// Removes trailing blanks, control characters and ".".
std::string trim_description(std::string_view text);

// Builds the Error for a failure an object reported while calling member name.
Error make_error(const ObjectError& e, std::string_view member);

}  // namespace platform::automation
