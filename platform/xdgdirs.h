// The user's base folders as the freedesktop base-directory rules give them: a variable that is
// unset, empty or not an absolute path falls back to its default under the home folder.
#pragma once

#include <string>

namespace platform {

std::string HomeFolder();  // $HOME, else the password database's entry, else /tmp
std::string ConfigHome();  // $XDG_CONFIG_HOME, else ~/.config
std::string DataHome();    // $XDG_DATA_HOME, else ~/.local/share

}  // namespace platform
