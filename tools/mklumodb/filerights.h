#pragma once
// The rights of a settings file that mklumodb writes, one side per
// operating system (filerights_posix.cpp, filerights_win.cpp). The file is
// built under a temporary name and renamed into place; these give it its
// rights before the rename, so it never shows with others.

#include <string>

#include "status.h"

namespace lumo::mklumodb {

// Creates the temporary file empty and readable by its owner only; anything
// already under that name (a planted link too) is refused, not followed.
Status createPrivateFile(const std::string& path);

// The rights the finished file gets: those of the regular file it replaces
// (mode, owner and group, so a maintainer's replacement keeps the operators'
// access); a new file gets 0666 less the umask, and in a setgid directory
// (an installed station's data directory, which hands its group on) its
// group may write it. A file holding a password is never readable by others.
Status giveSettingsRights(const std::string& temporary, const std::string& target, bool holdsPassword);

}  // namespace lumo::mklumodb
