#include "batch/voMatch.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "batch/VBScriptRegex.h"
#include "platform/automation.h"
#include "platform/text.h"

TvoMatchBase* Matcher = nullptr;

std::string WildcardToRegex(std::string_view Mask) {
  // One pass gives the same result as replacing ".", "*", "?", "+", "^", "$", "(",
  // ")", "[", "]", "{", "}" one after the other: no replacement brings in a
  // character that a later one would touch.
  std::string r;
  r.reserve(Mask.size() * 2 + 1);
  for (char c : Mask) {
    switch (c) {
      case '.':
        r += "\\.";
        break;
      case '*':
        r += ".*";
        break;
      case '?':
        r += ".?";
        break;
      case '+':
      case '^':
      case '$':
      case '(':
      case ')':
      case '[':
      case ']':
      case '{':
      case '}':
        r += '\\';
        r += c;
        break;
      default:
        r += c;
    }
  }
  r += '$';
  return r;
}

bool WildcardMatchesName(std::string_view Name, std::string_view Mask) {
  std::u32string name = platform::text::utf8_to_utf32(Name);
  std::u32string mask = platform::text::utf8_to_utf32(Mask);
  for (auto& c : name) c = platform::text::to_lower(c);
  for (auto& c : mask) c = platform::text::to_lower(c);
  // can[j]: the mask's first i characters can match the name's first j characters.
  std::vector<char> can(name.size() + 1, 0), next(name.size() + 1, 0);
  can[0] = 1;
  for (char32_t m : mask) {
    std::fill(next.begin(), next.end(), 0);
    for (std::size_t j = 0; j <= name.size(); ++j) {
      if (m == U'*') {
        next[j] = can[j] || (j > 0 && next[j - 1]);
      } else if (m == U'?') {
        next[j] = can[j] || (j > 0 && can[j - 1]);
      } else {
        next[j] = j > 0 && can[j - 1] && name[j - 1] == m;
      }
    }
    std::swap(can, next);
  }
  return can[name.size()] != 0;
}

bool TvoMatchBase::Match(const std::string&, const std::string&) { return true; }

namespace {

// Compiled expressions of this thread, most recent last. The search tests every
// file with the same one or two patterns, so a few suffice.
constexpr std::size_t kMatcherCacheSize = 8;

std::shared_ptr<IRegex> CompiledIgnoringCase(const std::string& Pattern) {
  thread_local std::vector<std::pair<std::string, std::shared_ptr<IRegex>>> cache;
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->first == Pattern) {
      auto found = it->second;
      if (it + 1 != cache.end()) {
        auto entry = std::move(*it);
        cache.erase(it);
        cache.push_back(std::move(entry));
      }
      return found;
    }
  }
  auto compiled = Regex::Compile(Pattern, TRegexOptions::IgnoreCase);
  if (cache.size() >= kMatcherCacheSize) cache.erase(cache.begin());
  cache.emplace_back(Pattern, compiled);
  return compiled;
}

}  // namespace

bool TvoMatch::Match(const std::string& FileName, const std::string& Pattern) {
  try {
    platform::automation::initialize_thread();
    return CompiledIgnoringCase(Pattern)->IsMatch(FileName);
  } catch (...) {
    // Any failure, an invalid pattern among them, accepts the file.
    return true;
  }
}
