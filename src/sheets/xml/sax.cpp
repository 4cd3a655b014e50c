#include "sheets/xml/sax.h"

#include <expat.h>

#include <cstring>
#include <vector>

#include "sheets/zip/zip.h"

namespace sheets::xml {
namespace {

constexpr std::size_t kChunk = 1 << 16;

struct State {
  Handler* handler = nullptr;
  XML_Parser parser = nullptr;
  int depth = 0;
  std::string failure;
  std::exception_ptr thrown;
};

void stop(State* st, const char* why) {
  if (st->failure.empty()) st->failure = why;
  XML_StopParser(st->parser, XML_FALSE);
}

void XMLCALL on_start(void* ud, const XML_Char* name, const XML_Char** atts) {
  auto* st = static_cast<State*>(ud);
  if (++st->depth > kMaxDepth) return stop(st, "the elements are nested too deeply");
  try {
    st->handler->start(local_name(name), Attrs(atts));
  } catch (...) {
    st->thrown = std::current_exception();
    XML_StopParser(st->parser, XML_FALSE);
  }
}

void XMLCALL on_end(void* ud, const XML_Char* name) {
  auto* st = static_cast<State*>(ud);
  --st->depth;
  try {
    st->handler->end(local_name(name));
  } catch (...) {
    st->thrown = std::current_exception();
    XML_StopParser(st->parser, XML_FALSE);
  }
}

void XMLCALL on_text(void* ud, const XML_Char* s, int len) {
  auto* st = static_cast<State*>(ud);
  try {
    st->handler->text(std::string_view(s, static_cast<std::size_t>(len)));
  } catch (...) {
    st->thrown = std::current_exception();
    XML_StopParser(st->parser, XML_FALSE);
  }
}

void XMLCALL on_doctype(void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  stop(static_cast<State*>(ud), "it holds a document type declaration, which is not allowed");
}

void XMLCALL on_entity(void* ud, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                       const XML_Char*, const XML_Char*) {
  stop(static_cast<State*>(ud), "it declares entities, which are not allowed");
}

class Session {
 public:
  Session(const std::string& part, Handler& h) : part_(part) {
    p_ = XML_ParserCreate("UTF-8");
    if (!p_) throw Error(part_ + ": out of memory");
    st_.handler = &h;
    st_.parser = p_;
    XML_SetUserData(p_, &st_);
    XML_SetElementHandler(p_, on_start, on_end);
    XML_SetCharacterDataHandler(p_, on_text);
    XML_SetStartDoctypeDeclHandler(p_, on_doctype);
    XML_SetEntityDeclHandler(p_, on_entity);
  }
  ~Session() { XML_ParserFree(p_); }

  void feed(const char* data, std::size_t len, bool final) {
    while (true) {
      int n = static_cast<int>(std::min<std::size_t>(len, 1 << 30));
      if (XML_Parse(p_, data, n, final && static_cast<std::size_t>(n) == len ? 1 : 0) != XML_STATUS_OK) fail();
      data += n;
      len -= static_cast<std::size_t>(n);
      if (len == 0) break;
    }
  }

 private:
  [[noreturn]] void fail() {
    if (st_.thrown) std::rethrow_exception(st_.thrown);
    std::string why = st_.failure;
    if (why.empty()) {
      why = XML_ErrorString(XML_GetErrorCode(p_));
      why += " at line " + std::to_string(XML_GetCurrentLineNumber(p_));
    }
    throw Error("the part " + part_ + " is damaged: " + why);
  }

  std::string part_;
  XML_Parser p_ = nullptr;
  State st_;
};

}  // namespace

const char* Attrs::get(std::string_view local) const {
  if (!a_) return nullptr;
  for (const char** p = a_; *p; p += 2)
    if (local_name(*p) == local) return p[1];
  return nullptr;
}

void parse(zip::EntryReader& in, const std::string& part_name, Handler& handler) {
  Session s(part_name, handler);
  std::vector<char> buf(kChunk);
  while (true) {
    std::size_t n = in.read(buf.data(), buf.size());
    s.feed(buf.data(), n, n == 0);
    if (n == 0) break;
  }
}

void parse(std::string_view data, const std::string& part_name, Handler& handler) {
  Session s(part_name, handler);
  s.feed(data.data(), data.size(), true);
}

}  // namespace sheets::xml
