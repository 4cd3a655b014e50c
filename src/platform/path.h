// Path rules of this platform, all in one place: delimiter, folder part, file-name
// part, extension, trailing delimiter, creation of folders, the program's own file.
//
// Paths are native POSIX paths: "/" is the only delimiter and ":" is an ordinary
// character. A folder that is kept for later joining carries its trailing "/".
#pragma once

#include <string>
#include <string_view>

namespace platform::path {

inline constexpr char kDelim = '/';
inline constexpr std::string_view kDelimText = "/";

inline bool is_delim(char c) { return c == kDelim; }

// Position of the last delimiter, or npos.
std::size_t last_delim(std::string_view p);

// Everything up to and including the last delimiter ("" when there is none).
std::string folder_part(std::string_view p);
// Everything after the last delimiter (the whole text when there is none).
std::string file_name_part(std::string_view p);
// The extension starts at the last "." that stands after the last delimiter
// (returned with its "."); "" when there is none.
std::string extension(std::string_view p);
// Replaces the extension by ext (which carries its "."), or appends ext when the
// path has none.
std::string change_extension(std::string_view p, std::string_view ext);

std::string include_trailing_delim(std::string_view p);
// Removes one trailing delimiter, but never turns "/" into "".
std::string exclude_trailing_delim(std::string_view p);

// Joins a folder and a name with exactly one delimiter between them.
std::string join(std::string_view folder, std::string_view name);

bool is_absolute(std::string_view p);
// Makes a path absolute against the current folder (no symbolic links resolved).
std::string absolute(std::string_view p);

// A name that the listing treats as hidden: it begins with ".".
inline bool is_hidden_name(std::string_view name) { return !name.empty() && name.front() == '.'; }

bool dir_exists(const std::string& p);
// True for anything that exists and is not a folder.
bool file_exists(const std::string& p);
bool exists(const std::string& p);

// Creates the folder with every missing parent. Returns true when the folder
// exists afterwards. Never throws.
bool make_dirs(const std::string& p);

// Full path of the running program file (from the running process, not the
// current folder). Tests can replace it with set_program_file_for_testing.
std::string program_file();
void set_program_file_for_testing(const std::string& p);

}  // namespace platform::path
