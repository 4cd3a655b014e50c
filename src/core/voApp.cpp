#include "core/voApp.h"

#include <utility>

#include "platform/path.h"

TvoApp* voApp = nullptr;

TvoApp::TvoApp(int argc, char** argv)
    : TvoApp(platform::path::program_file(), (argc > 1 && argv && argv[1]) ? std::string(argv[1]) : std::string()) {}

TvoApp::TvoApp(std::string ExeName, std::string Param1)
    : FExeName(std::move(ExeName)), FExePath(platform::path::folder_part(FExeName)), FParam1(std::move(Param1)) {}

std::string voExeName() { return voApp ? voApp->FExeName : platform::path::program_file(); }
