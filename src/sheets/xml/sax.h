// A small event parser over expat for the package's small parts (relationships,
// workbook, styles, shared strings). Document type declarations are refused (no
// entity expansion at all) and the element depth is limited; names arrive without
// their namespace prefix.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sheets/error.h"

namespace sheets::zip {
class EntryReader;
}

namespace sheets::xml {

inline constexpr int kMaxDepth = 256;

// Attribute list as expat gives it: name, value, name, value, ..., nullptr.
class Attrs {
 public:
  explicit Attrs(const char** a) : a_(a) {}
  // The value of the attribute with this local name (prefix ignored), or nullptr.
  const char* get(std::string_view local) const;

 private:
  const char** a_;
};

class Handler {
 public:
  virtual ~Handler() = default;
  virtual void start(std::string_view name, const Attrs& attrs) = 0;
  virtual void end(std::string_view name) { (void)name; }
  virtual void text(std::string_view s) { (void)s; }
};

// Parses the whole entry; throws Error("<part>: <what is wrong>").
void parse(zip::EntryReader& in, const std::string& part_name, Handler& handler);
void parse(std::string_view data, const std::string& part_name, Handler& handler);

// The local part of a qualified name.
inline std::string_view local_name(std::string_view qname) {
  std::size_t p = qname.rfind(':');
  return p == std::string_view::npos ? qname : qname.substr(p + 1);
}

}  // namespace sheets::xml
