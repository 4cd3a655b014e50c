// Regular expressions for the rest of the program behind a small facade: the
// static class Regex compiles a pattern and tests or replaces with it; IRegex,
// IRegexMatchCollection, IRegexMatch and IRegexSubMatches stand for a compiled
// expression, the matches of one search, one match and the groups of one match.
//
// Dialect: ECMAScript (the scripting dialect), matched over code points, so that
// "." is one character and case-insensitive mode pairs letters beyond ASCII
// ("É" matches "é"). A search may begin anywhere in the input.
//
// Strings are UTF-8. Positions and lengths (FirstIndex, Length) are counted in
// bytes of the UTF-8 input, from 0. Invalid UTF-8 bytes each count as one
// character (they match "." but no letter); Replace keeps them unchanged outside
// the replaced text.
//
// Failures: an invalid pattern, an input beyond the limits below, a search that
// takes too many steps or a failure of the engine (out of memory) raise ERegexException from the five
// search and replace operations of IRegex (and so from Regex::IsMatch and
// Regex::Replace). Compile itself never fails on a bad pattern: like the scripting
// class, the error shows when the expression is used.
//
// Objects are shared_ptr-owned. A compiled expression and everything obtained from
// it belong to the thread that made them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

// Limits of the engine, which recurses once or more per character. Longer inputs
// and patterns fail with "Out of string space" (14). Texts longer than
// kRegexInlineLength are matched on a helper thread with a stack of
// kRegexDeepStackSize bytes (reserved address space; only what is used is touched).
inline constexpr std::size_t kRegexMaxInputLength = 4096;    // code points of an input (PATH_MAX)
inline constexpr std::size_t kRegexMaxPatternLength = 4096;  // code points of a pattern
inline constexpr std::size_t kRegexInlineLength = 256;       // code points
inline constexpr std::size_t kRegexDeepStackSize = std::size_t{256} << 20;
// Steps (characters taken or given back) one search may take before it fails
// with "Can't perform requested operation" (17): bounds the time of patterns
// that backtrack without end, such as "(a*)*b" on a long text without "b".
inline constexpr std::uint64_t kRegexMaxSteps = 50'000'000;

enum class TRegexOptions : std::uint32_t { None = 0, IgnoreCase = 1, Multiline = 2 };
constexpr TRegexOptions operator|(TRegexOptions a, TRegexOptions b) {
  return static_cast<TRegexOptions>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr bool HasOption(TRegexOptions set, TRegexOptions flag) {
  return (static_cast<std::uint32_t>(set) & static_cast<std::uint32_t>(flag)) != 0;
}

// One row of the error table.
struct TVBScriptErrRec {
  std::int32_t Code;
  std::string_view Message;
};
extern const std::array<TVBScriptErrRec, 43> VBScriptErrors;

// Facility of the scripting runtime's error codes: ErrorCode = kVBScriptFacility + number.
inline constexpr std::int32_t kVBScriptFacility = static_cast<std::int32_t>(0x800A0000u);

// Error numbers the facade raises itself.
inline constexpr std::int32_t kRegexErrOutOfMemory = 7;
inline constexpr std::int32_t kRegexErrSubscript = 9;
inline constexpr std::int32_t kRegexErrCantPerform = 17;
inline constexpr std::int32_t kRegexErrOutOfString = 14;
inline constexpr std::int32_t kRegexErrOutOfStack = 28;
inline constexpr std::int32_t kRegexErrSyntax = 5017;
inline constexpr std::int32_t kRegexErrQuantifier = 5018;
inline constexpr std::int32_t kRegexErrBracket = 5019;
inline constexpr std::int32_t kRegexErrParen = 5020;
inline constexpr std::int32_t kRegexErrRange = 5021;

// The table's message for an error number, "" when the table has none.
std::string FindErrorMessage(std::int32_t Code);

class ERegexException : public platform::Exception {
 public:
  // Message: the table's text for the low 16 bits of Code, else OwnMessage.
  ERegexException(std::int32_t Code, const std::string& OwnMessage);
  std::int32_t ErrorCode;

 private:
  static std::string MessageFor(std::int32_t Code, const std::string& OwnMessage);
};

class IRegexSubMatches {
 public:
  virtual ~IRegexSubMatches() = default;
  virtual std::int32_t Count() const = 0;
  // The text of group Index (0 = the first capturing group); "" for a group that
  // took no part in the match. A bad index raises ERegexException (9).
  virtual std::string Item(std::int32_t Index) const = 0;
  // Whether group Index took part in the match.
  virtual bool Matched(std::int32_t Index) const = 0;
};

class IRegexMatch {
 public:
  virtual ~IRegexMatch() = default;
  virtual std::string Value() const = 0;
  virtual std::int32_t FirstIndex() const = 0;  // UTF-8 bytes before the match
  virtual std::int32_t Length() const = 0;      // UTF-8 bytes of the match
  virtual std::shared_ptr<IRegexSubMatches> SubMatches() const = 0;
};

class IRegexMatchCollection {
 public:
  virtual ~IRegexMatchCollection() = default;
  virtual std::int32_t Count() const = 0;
  // A bad index raises ERegexException (9).
  virtual std::shared_ptr<IRegexMatch> Item(std::int32_t Index) const = 0;
};

class IRegex {
 public:
  virtual ~IRegex() = default;
  virtual std::string Pattern() const = 0;
  virtual bool IgnoreCase() const = 0;
  virtual bool Multiline() const = 0;
  virtual bool IsMatch(const std::string& Input) = 0;
  virtual std::shared_ptr<IRegexMatchCollection> MatchFirst(const std::string& Input) = 0;
  virtual std::shared_ptr<IRegexMatchCollection> MatchAll(const std::string& Input) = 0;
  // Replacement uses the dialect's "$&", "$1".."$99", "$`", "$'" and "$$".
  virtual std::string Replace(const std::string& Input, const std::string& Replacement) = 0;
  virtual std::string ReplaceAll(const std::string& Input, const std::string& Replacement) = 0;
};

class Regex {
 public:
  Regex() = delete;
  static std::shared_ptr<IRegex> Compile(const std::string& Pattern, TRegexOptions Options);
  static bool IsMatch(const std::string& Pattern, TRegexOptions Options, const std::string& Input);
  // Compiles without options and replaces the first match only.
  static std::string Replace(const std::string& Pattern, const std::string& Input, const std::string& Replacement);
};
