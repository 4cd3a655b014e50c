// File-name matching: which candidate paths belong to a batch.
#pragma once

#include <string>
#include <string_view>

// Turns a wildcard mask into a regular expression anchored at the end only:
// "*" any run, "?" one character or none, the dialect's special characters
// . + ^ $ ( ) [ ] { } literal. "*.xls?" gives ".*\.xls.?$"; "" gives "$".
std::string WildcardToRegex(std::string_view Mask);

// The same wildcard meaning applied to a whole name (both ends anchored), without
// regard to case: the listing pattern of the folder search.
bool WildcardMatchesName(std::string_view Name, std::string_view Mask);

// The matcher kind that accepts every file.
class TvoMatchBase {
 public:
  virtual ~TvoMatchBase() = default;
  virtual bool Match(const std::string& FileName, const std::string& Pattern);
};

// Tests the pattern as a regular expression without regard to case, anywhere in
// the file name. Any failure (an invalid pattern among them) accepts.
class TvoMatch : public TvoMatchBase {
 public:
  bool Match(const std::string& FileName, const std::string& Pattern) override;
};

// The process-wide matcher; created at start-up. nullptr accepts every file.
extern TvoMatchBase* Matcher;
