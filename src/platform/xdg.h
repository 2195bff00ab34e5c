// The desktop's per-user folders (XDG base directories).
#pragma once

#include <string>

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or relative.
std::string ConfigHome();
// $XDG_DATA_HOME, or ~/.local/share likewise.
std::string DataHome();
