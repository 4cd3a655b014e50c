// The application object: where the program lives and what its first argument was.
#pragma once

#include <string>
#include <vector>

class TvoApp {
 public:
  // The program file comes from the running process (platform::path::program_file),
  // not from argv[0] or the current folder; argv[1], when present, is FParam1.
  TvoApp(int argc, char** argv);
  // For tests: an explicit program file name and first argument.
  TvoApp(std::string ExeName, std::string Param1);

  std::string FExeName;  // full path of the program file
  std::string FExePath;  // its folder, with the trailing delimiter
  std::string FParam1;   // the first command-line argument, "" when none
};

extern TvoApp* voApp;

// The program's full file name: voApp's when it exists, else the running process's.
std::string voExeName();
