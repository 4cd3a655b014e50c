#include "platform/automation.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/text.h"

namespace platform::automation {

namespace {

[[noreturn]] void throw_code(std::int32_t code) { throw Error(code, error_text(code)); }

std::string number_text(double d) {
  if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(d));
    return std::string(buf, r.ptr);
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

bool parse_number(std::string_view s, double& out) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, Factory> factories;  // keyed by the lower-case ProgID
};

Registry& registry() {
  static Registry r;
  return r;
}

thread_local bool t_initialized = false;

}  // namespace

Variant Variant::null() {
  Variant v;
  v.v_ = NullTag{};
  return v;
}

Variant Variant::error(std::int32_t code) {
  Variant v;
  v.v_ = ErrorTag{code};
  return v;
}

Variant::Type Variant::type() const { return static_cast<Type>(v_.index()); }

double Variant::as_double() const {
  switch (type()) {
    case Type::Empty:
      return 0;
    case Type::Bool:
      return std::get<bool>(v_) ? -1 : 0;
    case Type::Int:
      return std::get<std::int32_t>(v_);
    case Type::Double:
      return std::get<double>(v_);
    case Type::String: {
      double d = 0;
      if (parse_number(std::get<std::string>(v_), d)) return d;
      throw_code(kTypeMismatch);
    }
    default:
      throw_code(kTypeMismatch);
  }
}

std::int32_t Variant::as_int() const {
  if (type() == Type::Int) return std::get<std::int32_t>(v_);
  double d = std::nearbyint(as_double());  // rounds half to even in the default mode
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) throw_code(kOverflow);
  return static_cast<std::int32_t>(d);
}

bool Variant::as_bool() const {
  switch (type()) {
    case Type::Bool:
      return std::get<bool>(v_);
    case Type::String: {
      const auto& s = std::get<std::string>(v_);
      if (text::equals_nocase(s, "true")) return true;
      if (text::equals_nocase(s, "false")) return false;
      return as_double() != 0;
    }
    default:
      return as_double() != 0;
  }
}

std::string Variant::as_string() const {
  switch (type()) {
    case Type::Empty:
      return {};
    case Type::Bool:
      return std::get<bool>(v_) ? "True" : "False";
    case Type::Int:
      return std::to_string(std::get<std::int32_t>(v_));
    case Type::Double:
      return number_text(std::get<double>(v_));
    case Type::String:
      return std::get<std::string>(v_);
    default:
      throw_code(kTypeMismatch);
  }
}

ObjectPtr Variant::as_object() const {
  if (type() != Type::Object || !std::get<ObjectPtr>(v_)) throw_code(kTypeMismatch);
  return std::get<ObjectPtr>(v_);
}

std::int32_t Variant::error_code() const {
  if (type() != Type::Error) return kOk;
  return std::get<ErrorTag>(v_).code;
}

std::string trim_description(std::string_view t) {
  while (!t.empty() && (static_cast<unsigned char>(t.back()) <= 32 || t.back() == 0x7F || t.back() == '.')) t.remove_suffix(1);
  return std::string(t);
}

std::string system_message(std::int32_t code) {
  static const std::map<std::uint32_t, const char*> kTexts = {
      {0x80004001u, "Not implemented"},
      {0x80004002u, "No such interface supported"},
      {0x80004005u, "Unspecified error"},
      {0x8000FFFFu, "Catastrophic failure"},
      {0x80070057u, "The parameter is incorrect."},
      {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
      {0x80020003u, "Member not found."},
      {0x80020004u, "Parameter not found."},
      {0x80020005u, "Type mismatch."},
      {0x80020006u, "Unknown name."},
      {0x80020009u, "Exception occurred."},
      {0x8002000Au, "Out of present range."},
      {0x8002000Bu, "Invalid index."},
      {0x8002000Eu, "Invalid number of parameters."},
      {0x800401F0u, "CoInitialize has not been called."},
      {0x800401F3u, "Invalid class string"},
      {0x80040154u, "Class not registered"},
  };
  auto it = kTexts.find(static_cast<std::uint32_t>(code));
  return it == kTexts.end() ? std::string() : trim_description(it->second);
}

std::string error_text(std::int32_t code) {
  std::string s = system_message(code);
  if (!s.empty()) return s;
  char buf[32];
  std::snprintf(buf, sizeof buf, "OLE error %.8x", static_cast<unsigned>(code));
  return buf;
}

Error make_error(const ObjectError& e, std::string_view member) {
  if (e.code == kUnknownName) {
    return Error(e.code, "Method '" + std::string(member) + "' not supported by automation object");
  }
  std::string d = trim_description(e.description);
  if (!d.empty()) return Error(e.code, d);
  return Error(e.code, error_text(e.code));
}

Variant invoke(const ObjectPtr& obj, std::string_view name, InvokeKind kind, const std::vector<Variant>& args) {
  if (!obj) throw Error(kTypeMismatch, "Variant is not an automation object");
  try {
    return obj->invoke(name, kind, args);
  } catch (const ObjectError& e) {
    throw make_error(e, name);
  }
}

void initialize_thread() { t_initialized = true; }
bool thread_initialized() { return t_initialized; }

void register_class(const std::string& prog_id, Factory factory) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.factories[text::to_lower(prog_id)] = std::move(factory);
}

void unregister_class(const std::string& prog_id) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.factories.erase(text::to_lower(prog_id));
}

bool is_registered(const std::string& prog_id) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.factories.count(text::to_lower(prog_id)) != 0;
}

ObjectPtr create_object(const std::string& prog_id) {
  auto fail = [&](std::int32_t code) -> Error {
    return Error(code, error_text(code) + ", ProgID: \"" + prog_id + "\"");
  };
  if (!t_initialized) throw fail(kNotInitialized);
  Factory factory;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.factories.find(text::to_lower(prog_id));
    if (it != r.factories.end()) factory = it->second;
  }
  if (!factory) throw fail(kInvalidClassString);
  ObjectPtr obj;
  try {
    obj = factory();
  } catch (const ObjectError& e) {
    throw fail(e.code);
  }
  if (!obj) throw fail(kNoInterface);
  return obj;
}

}  // namespace platform::automation
