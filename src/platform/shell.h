// Opens a file, folder, mail or web address with its default action. On this
// platform that is xdg-open, started without a shell (the address is one argument
// and no shell ever sees it), detached; the outcome is ignored.
#pragma once

#include <functional>
#include <string>

namespace platform::shell {

void open(const std::string& target);

// Replaces the opener (tests install a recorder); an empty function restores the
// default. Returns the opener that was in place.
using Opener = std::function<void(const std::string&)>;
Opener set_opener(Opener opener);

}  // namespace platform::shell
