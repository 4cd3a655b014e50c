#include "batch/VBScriptRegex.h"

#include <pthread.h>

#include <exception>
#include <iterator>
#include <functional>
#include <new>
#include <regex>
#include <utility>
#include <vector>

#include "platform/text.h"

const std::array<TVBScriptErrRec, 43> VBScriptErrors = {{
    {429, "ActiveX component can't create object"},
    {507, "An exception occurred"},
    {449, "Argument not optional"},
    {17, "Can't perform requested operation"},
    {430, "Class doesn't support Automation"},
    {506, "Class not defined"},
    {11, "Division by zero"},
    {48, "Error in loading DLL"},
    {5020, "Expected ')' in regular expression"},
    {5019, "Expected ']' in regular expression"},
    {432, "File name or class name not found during Automation operation"},
    {92, "For loop not initialized"},
    {5008, "Illegal assignment"},
    {51, "Internal error"},
    {505, "Invalid or unqualified reference"},
    {481, "Invalid picture"},
    {5, "Invalid procedure call or argument"},
    {5021, "Invalid range in character set"},
    {94, "Invalid use of Null"},
    {448, "Named argument not found"},
    {447, "Object doesn't support current locale setting"},
    {445, "Object doesn't support this action"},
    {438, "Object doesn't support this property or method"},
    {451, "Object not a collection"},
    {504, "Object not safe for creating"},
    {503, "Object not safe for initializing"},
    {502, "Object not safe for scripting"},
    {424, "Object required"},
    {91, "Object variable not set"},
    {7, "Out of Memory"},
    {28, "Out of stack space"},
    {14, "Out of string space"},
    {6, "Overflow"},
    {35, "Sub or function not defined"},
    {9, "Subscript out of range"},
    {5017, "Syntax error in regular expression"},
    {462, "The remote server machine does not exist or is unavailable"},
    {10, "This array is fixed or temporarily locked"},
    {13, "Type mismatch"},
    {5018, "Unexpected quantifier"},
    {500, "Variable is undefined"},
    {458, "Variable uses an Automation type not supported in VBScript"},
    {450, "Wrong number of arguments or invalid property assignment"},
}};

std::string FindErrorMessage(std::int32_t Code) {
  for (const auto& rec : VBScriptErrors) {
    if (rec.Code == Code) return std::string(rec.Message);
  }
  return {};
}

std::string ERegexException::MessageFor(std::int32_t Code, const std::string& OwnMessage) {
  std::string text = FindErrorMessage(static_cast<std::int32_t>(static_cast<std::uint32_t>(Code) & 0xFFFFu));
  return text.empty() ? OwnMessage : text;
}

ERegexException::ERegexException(std::int32_t Code, const std::string& OwnMessage)
    : platform::Exception(MessageFor(Code, OwnMessage)), ErrorCode(Code) {}

namespace {

[[noreturn]] void Raise(std::int32_t Number, const std::string& OwnMessage = {}) {
  throw ERegexException(kVBScriptFacility + Number, OwnMessage);
}

// The engine recurses once or more per character of the input (and per level of
// nesting of the pattern). Short texts are handled on the caller's stack; longer
// ones on a helper thread with a stack large enough for the longest input allowed.
void RunDeep(std::size_t Length, const std::function<void()>& Fn) {
  if (Length <= kRegexInlineLength) {
    Fn();
    return;
  }
  struct Job {
    const std::function<void()>* Fn;
    std::exception_ptr Error;
  } job{&Fn, nullptr};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) Raise(kRegexErrOutOfMemory);
  pthread_attr_setstacksize(&attr, kRegexDeepStackSize);
  pthread_t thread;
  const int rc = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* j = static_cast<Job*>(arg);
        try {
          (*j->Fn)();
        } catch (...) {
          j->Error = std::current_exception();
        }
        return nullptr;
      },
      &job);
  pthread_attr_destroy(&attr);
  if (rc != 0) Raise(kRegexErrOutOfStack);
  pthread_join(thread, nullptr);
  if (job.Error) std::rethrow_exception(job.Error);
}

// Case pairs of the program's own case-insensitive comparisons (beyond ASCII).
struct TvoRegexTraits : std::regex_traits<wchar_t> {
  wchar_t translate_nocase(wchar_t c) const {
    return static_cast<wchar_t>(platform::text::to_lower(static_cast<char32_t>(c)));
  }
};
using TvoWRegex = std::basic_regex<wchar_t, TvoRegexTraits>;

// The engine backtracks without bound (a pattern such as "(a*)*b" takes
// exponential time). It walks the input through this iterator, which counts every
// step and gives up once the search has taken kRegexMaxSteps.
struct TStepsExhausted {};

class TStepIterator {
 public:
  using iterator_category = std::bidirectional_iterator_tag;
  using value_type = wchar_t;
  using difference_type = std::ptrdiff_t;
  using pointer = const wchar_t*;
  using reference = const wchar_t&;

  TStepIterator() = default;
  TStepIterator(const wchar_t* P, std::uint64_t* Left) : FP(P), FLeft(Left) {}
  reference operator*() const { return *FP; }
  pointer operator->() const { return FP; }
  TStepIterator& operator++() {
    Step();
    ++FP;
    return *this;
  }
  TStepIterator operator++(int) {
    TStepIterator t = *this;
    ++*this;
    return t;
  }
  TStepIterator& operator--() {
    Step();
    --FP;
    return *this;
  }
  TStepIterator operator--(int) {
    TStepIterator t = *this;
    --*this;
    return t;
  }
  bool operator==(const TStepIterator& o) const { return FP == o.FP; }
  const wchar_t* Base() const { return FP; }

 private:
  void Step() const {
    if (FLeft) {
      if (*FLeft == 0) throw TStepsExhausted{};
      --*FLeft;
    }
  }
  const wchar_t* FP = nullptr;
  std::uint64_t* FLeft = nullptr;
};

using TvoWIterator = std::regex_iterator<TStepIterator, wchar_t, TvoRegexTraits>;

// UTF-8 decoded to code points, with the byte offset of every code point (and of
// the end), so that positions map back onto the original bytes. Each byte of an
// invalid sequence becomes one U+FFFD.
struct TDecoded {
  std::wstring Text;
  std::vector<std::size_t> Offsets;
};

std::size_t SequenceLength(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t n;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

TDecoded Decode(std::string_view s, std::size_t Limit) {
  TDecoded d;
  d.Text.reserve(s.size());
  d.Offsets.reserve(s.size() + 1);
  for (std::size_t i = 0; i < s.size();) {
    if (d.Text.size() >= Limit) Raise(kRegexErrOutOfString);
    char32_t cp = 0;
    std::size_t n = SequenceLength(s, i, cp);
    if (n == 0) {
      cp = 0xFFFD;
      n = 1;
    }
    d.Offsets.push_back(i);
    d.Text.push_back(static_cast<wchar_t>(cp));
    i += n;
  }
  d.Offsets.push_back(s.size());
  return d;
}

// A failure of the engine while searching.
std::int32_t SearchErrorNumber(std::regex_constants::error_type code) {
  switch (code) {
    case std::regex_constants::error_space:
      return kRegexErrOutOfMemory;
    case std::regex_constants::error_stack:
    case std::regex_constants::error_complexity:
      return kRegexErrOutOfStack;
    default:
      return kRegexErrSyntax;
  }
}

// A failure of the engine while compiling a pattern: the pattern's own faults, else
// the same resource failures as in a search.
std::int32_t PatternErrorNumber(std::regex_constants::error_type code) {
  switch (code) {
    case std::regex_constants::error_paren:
      return kRegexErrParen;
    case std::regex_constants::error_brack:
      return kRegexErrBracket;
    case std::regex_constants::error_range:
      return kRegexErrRange;
    case std::regex_constants::error_badrepeat:
      return kRegexErrQuantifier;
    default:
      return SearchErrorNumber(code);
  }
}

// Checks the structure of a pattern the way the dialect reports it, before the
// engine sees it: a quantifier with nothing to repeat (5018), an unclosed "[" (5019),
// unbalanced parentheses (5020). A "{" or "}" that does not form a quantifier is a
// literal character, as in the dialect; it is escaped for the engine. Returns 0 and
// the pattern for the engine, or the error number.
bool IsCountBrace(const std::wstring& p, std::size_t i, std::size_t& end) {
  std::size_t j = i + 1;
  auto digits = [&] {
    const std::size_t from = j;
    while (j < p.size() && p[j] >= L'0' && p[j] <= L'9') ++j;
    return j > from;
  };
  if (!digits()) return false;
  if (j < p.size() && p[j] == L',') {
    ++j;
    digits();
  }
  if (j >= p.size() || p[j] != L'}') return false;
  end = j;
  return true;
}

std::int32_t CheckPattern(const std::wstring& p, std::wstring& out) {
  std::size_t depth = 0;
  bool canRepeat = false;
  out.clear();
  out.reserve(p.size() + 8);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const wchar_t c = p[i];
    switch (c) {
      case L'\\':
        if (i + 1 >= p.size()) return kRegexErrSyntax;
        out += c;
        out += p[++i];
        canRepeat = true;
        break;
      case L'[': {
        std::size_t j = i + 1;
        if (j < p.size() && p[j] == L'^') ++j;
        if (j < p.size() && p[j] == L']') ++j;
        while (j < p.size() && p[j] != L']') j += p[j] == L'\\' ? 2 : 1;
        if (j >= p.size()) return kRegexErrBracket;
        out.append(p, i, j - i + 1);
        i = j;
        canRepeat = true;
        break;
      }
      case L'(':
        ++depth;
        out += c;
        if (i + 2 < p.size() && p[i + 1] == L'?' && (p[i + 2] == L':' || p[i + 2] == L'=' || p[i + 2] == L'!')) {
          out.append(p, i + 1, 2);
          i += 2;
        }
        canRepeat = false;
        break;
      case L')':
        if (depth == 0) return kRegexErrParen;
        --depth;
        out += c;
        canRepeat = true;
        break;
      case L'|':
      case L'^':
      case L'$':
        out += c;
        canRepeat = false;
        break;
      case L'*':
      case L'+':
      case L'?':
      case L'{': {
        std::size_t end = i;
        if (c == L'{' && !IsCountBrace(p, i, end)) {
          out += L"\\{";
          canRepeat = true;
          break;
        }
        if (!canRepeat) return kRegexErrQuantifier;
        out.append(p, i, end - i + 1);
        i = end;
        if (i + 1 < p.size() && p[i + 1] == L'?') out += p[++i];  // lazy
        canRepeat = false;
        break;
      }
      case L'}':
        out += L"\\}";
        canRepeat = true;
        break;
      default:
        out += c;
        canRepeat = true;
    }
  }
  return depth == 0 ? 0 : kRegexErrParen;
}

// One match: byte ranges of the whole match (group 0) and of every group.
struct TMatchData {
  struct Group {
    std::size_t Begin = 0;
    std::size_t End = 0;
    bool Matched = false;
  };
  std::vector<Group> Groups;
};

struct TSearchResult {
  std::shared_ptr<const std::string> Input;
  std::vector<TMatchData> Matches;
};

class TSubMatches final : public IRegexSubMatches {
 public:
  TSubMatches(std::shared_ptr<const TSearchResult> Result, std::size_t Match)
      : FResult(std::move(Result)), FMatch(Match) {}
  std::int32_t Count() const override {
    return static_cast<std::int32_t>(FResult->Matches[FMatch].Groups.size() - 1);
  }
  std::string Item(std::int32_t Index) const override {
    const auto& g = Group(Index);
    return g.Matched ? FResult->Input->substr(g.Begin, g.End - g.Begin) : std::string();
  }
  bool Matched(std::int32_t Index) const override { return Group(Index).Matched; }

 private:
  const TMatchData::Group& Group(std::int32_t Index) const {
    if (Index < 0 || Index >= Count()) Raise(kRegexErrSubscript);
    return FResult->Matches[FMatch].Groups[static_cast<std::size_t>(Index) + 1];
  }
  std::shared_ptr<const TSearchResult> FResult;
  std::size_t FMatch;
};

class TMatch final : public IRegexMatch {
 public:
  TMatch(std::shared_ptr<const TSearchResult> Result, std::size_t Match)
      : FResult(std::move(Result)), FMatch(Match) {}
  std::string Value() const override {
    const auto& g = Whole();
    return FResult->Input->substr(g.Begin, g.End - g.Begin);
  }
  std::int32_t FirstIndex() const override { return static_cast<std::int32_t>(Whole().Begin); }
  std::int32_t Length() const override { return static_cast<std::int32_t>(Whole().End - Whole().Begin); }
  std::shared_ptr<IRegexSubMatches> SubMatches() const override {
    return std::make_shared<TSubMatches>(FResult, FMatch);
  }

 private:
  const TMatchData::Group& Whole() const { return FResult->Matches[FMatch].Groups[0]; }
  std::shared_ptr<const TSearchResult> FResult;
  std::size_t FMatch;
};

class TMatchCollection final : public IRegexMatchCollection {
 public:
  explicit TMatchCollection(std::shared_ptr<const TSearchResult> Result) : FResult(std::move(Result)) {}
  std::int32_t Count() const override { return static_cast<std::int32_t>(FResult->Matches.size()); }
  std::shared_ptr<IRegexMatch> Item(std::int32_t Index) const override {
    if (Index < 0 || Index >= Count()) Raise(kRegexErrSubscript);
    return std::make_shared<TMatch>(FResult, static_cast<std::size_t>(Index));
  }

 private:
  std::shared_ptr<const TSearchResult> FResult;
};

class TRegex final : public IRegex {
 public:
  TRegex(const std::string& Pattern, TRegexOptions Options) : FPattern(Pattern), FOptions(Options) {
    try {
      std::wstring w;
      if (const std::int32_t number = CheckPattern(Decode(Pattern, kRegexMaxPatternLength).Text, w)) Raise(number);
      auto flags = std::regex_constants::ECMAScript;
      if (HasOption(Options, TRegexOptions::IgnoreCase)) flags |= std::regex_constants::icase;
      if (HasOption(Options, TRegexOptions::Multiline)) flags |= std::regex_constants::multiline;
      RunDeep(w.size(), [&] { FRegex.assign(w, flags); });
      FValid = true;
    } catch (const ERegexException& e) {
      FErrorCode = e.ErrorCode;
      FErrorText = e.what();
    } catch (const std::regex_error& e) {
      // Parentheses are balanced by now: the engine's "mismatched" stands for a
      // token it did not expect.
      const std::int32_t number =
          e.code() == std::regex_constants::error_paren ? kRegexErrSyntax : PatternErrorNumber(e.code());
      FErrorCode = kVBScriptFacility + number;
      FErrorText = e.what();
    } catch (const std::bad_alloc&) {
      FErrorCode = kVBScriptFacility + kRegexErrOutOfMemory;
    }
  }

  std::string Pattern() const override { return FPattern; }
  bool IgnoreCase() const override { return HasOption(FOptions, TRegexOptions::IgnoreCase); }
  bool Multiline() const override { return HasOption(FOptions, TRegexOptions::Multiline); }

  bool IsMatch(const std::string& Input) override {
    return Guarded([&] {
      CheckValid();
      const TDecoded d = Decode(Input, kRegexMaxInputLength);
      bool found = false;
      RunDeep(d.Text.size(), [&] {
        std::uint64_t left = kRegexMaxSteps;
        const wchar_t* p = d.Text.data();
        found = std::regex_search(TStepIterator(p, &left), TStepIterator(p + d.Text.size(), &left), FRegex);
      });
      return found;
    });
  }

  std::shared_ptr<IRegexMatchCollection> MatchFirst(const std::string& Input) override {
    return std::make_shared<TMatchCollection>(Search(Input, false));
  }
  std::shared_ptr<IRegexMatchCollection> MatchAll(const std::string& Input) override {
    return std::make_shared<TMatchCollection>(Search(Input, true));
  }

  std::string Replace(const std::string& Input, const std::string& Replacement) override {
    return DoReplace(Input, Replacement, false);
  }
  std::string ReplaceAll(const std::string& Input, const std::string& Replacement) override {
    return DoReplace(Input, Replacement, true);
  }

 private:
  void CheckValid() const {
    if (!FValid) throw ERegexException(FErrorCode, FErrorText);
  }

  // Runs one search or replacement, turning the engine's failures into
  // ERegexException.
  template <class Fn>
  static auto Guarded(Fn&& fn) -> decltype(fn()) {
    try {
      return fn();
    } catch (const ERegexException&) {
      throw;
    } catch (const std::regex_error& e) {
      Raise(SearchErrorNumber(e.code()), e.what());
    } catch (const std::bad_alloc&) {
      Raise(kRegexErrOutOfMemory);
    } catch (const std::length_error&) {
      Raise(kRegexErrOutOfString);
    } catch (const TStepsExhausted&) {
      Raise(kRegexErrCantPerform);
    }
  }

  std::shared_ptr<const TSearchResult> Search(const std::string& Input, bool All) {
    return Guarded([&] {
      CheckValid();
      auto result = std::make_shared<TSearchResult>();
      result->Input = std::make_shared<const std::string>(Input);
      const TDecoded d = Decode(Input, kRegexMaxInputLength);
      ForEachMatch(d, All, [&](const auto& m) {
        TMatchData data;
        data.Groups.resize(m.size());
        for (std::size_t g = 0; g < m.size(); ++g) {
          if (!m[g].matched) continue;
          data.Groups[g].Begin = d.Offsets[static_cast<std::size_t>(m[g].first.Base() - d.Text.data())];
          data.Groups[g].End = d.Offsets[static_cast<std::size_t>(m[g].second.Base() - d.Text.data())];
          data.Groups[g].Matched = true;
        }
        result->Matches.push_back(std::move(data));
      });
      return std::shared_ptr<const TSearchResult>(result);
    });
  }

  template <class Fn>
  void ForEachMatch(const TDecoded& d, bool All, Fn&& fn) const {
    RunDeep(d.Text.size(), [&] {
      std::uint64_t left = kRegexMaxSteps;
      const wchar_t* p = d.Text.data();
      for (TvoWIterator it(TStepIterator(p, &left), TStepIterator(p + d.Text.size(), &left), FRegex), end; it != end;
           ++it) {
        fn(*it);
        if (!All) break;
      }
    });
  }

  std::string DoReplace(const std::string& Input, const std::string& Replacement, bool All) {
    return Guarded([&] {
      CheckValid();
      const TDecoded d = Decode(Input, kRegexMaxInputLength);
      std::string out;
      std::size_t last = 0;
      ForEachMatch(d, All, [&](const auto& m) {
        auto pos = [&](const TStepIterator& p) {
          return d.Offsets[static_cast<std::size_t>(p.Base() - d.Text.data())];
        };
        const std::size_t begin = pos(m[0].first);
        const std::size_t end = pos(m[0].second);
        out.append(Input, last, begin - last);
        AppendReplacement(out, Input, Replacement, begin, end, m, pos);
        last = end;
      });
      out.append(Input, last, std::string::npos);
      return out;
    });
  }

  // The dialect's replacement patterns: $$, $&, $`, $', $n and $nn (a two-digit
  // group number wins when that group exists); anything else is literal.
  template <class Match, class Pos>
  static void AppendReplacement(std::string& out, const std::string& Input, const std::string& Replacement,
                                std::size_t Begin, std::size_t End, const Match& m, Pos&& pos) {
    const std::size_t groups = m.size() - 1;
    auto group = [&](std::size_t n) {
      if (m[n].matched) out.append(Input, pos(m[n].first), pos(m[n].second) - pos(m[n].first));
    };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < Replacement.size(); ++i) {
      const char c = Replacement[i];
      if (c != '$' || i + 1 >= Replacement.size()) {
        out.push_back(c);
        continue;
      }
      const char n = Replacement[i + 1];
      if (n == '$') {
        out.push_back('$');
        ++i;
      } else if (n == '&') {
        out.append(Input, Begin, End - Begin);
        ++i;
      } else if (n == '`') {
        out.append(Input, 0, Begin);
        ++i;
      } else if (n == '\'') {
        out.append(Input, End, std::string::npos);
        ++i;
      } else if (digit(n)) {
        std::size_t one = static_cast<std::size_t>(n - '0');
        if (i + 2 < Replacement.size() && digit(Replacement[i + 2])) {
          std::size_t two = one * 10 + static_cast<std::size_t>(Replacement[i + 2] - '0');
          if (two >= 1 && two <= groups) {
            group(two);
            i += 2;
            continue;
          }
        }
        if (one >= 1 && one <= groups) {
          group(one);
          ++i;
        } else {
          out.push_back('$');
        }
      } else {
        out.push_back('$');
      }
    }
  }

  std::string FPattern;
  TRegexOptions FOptions;
  TvoWRegex FRegex;
  bool FValid = false;
  std::int32_t FErrorCode = 0;
  std::string FErrorText;
};

}  // namespace

std::shared_ptr<IRegex> Regex::Compile(const std::string& Pattern, TRegexOptions Options) {
  return std::make_shared<TRegex>(Pattern, Options);
}

bool Regex::IsMatch(const std::string& Pattern, TRegexOptions Options, const std::string& Input) {
  return Compile(Pattern, Options)->IsMatch(Input);
}

std::string Regex::Replace(const std::string& Pattern, const std::string& Input, const std::string& Replacement) {
  return Compile(Pattern, TRegexOptions::None)->Replace(Input, Replacement);
}
