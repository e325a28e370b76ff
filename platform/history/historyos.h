#pragma once
// What the history file needs of the operating system, one side per system
// (historyos_posix.cpp, historyos_win.cpp).
//
// history.db is made with the rights of the settings file beside it: on an
// installed Linux station lumo.mdb is 0660 in a directory of group dialout,
// so whichever operator runs the station next can write the history too;
// a portable copy keeps its owner's rights. On Windows the data directory's
// own rights pass on to what is made in it.

#include <string>

namespace lumo::history {

// Makes an empty `path` with the rights of `like` when `path` does not exist
// yet and `like` does; does nothing otherwise (SQLite then makes it).
void makeWithRightsOf(const std::string& path, const std::string& like);

// Whether a system error (errno, or GetLastError on Windows) means no room
// for the file: a full disk, a quota, a file size limit.
bool isNoRoom(int systemError);

}  // namespace lumo::history
