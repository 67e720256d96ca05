// Where the save requester starts: the user's documents folder.
#pragma once

#include <string>

// The documents folder named by XDG_DOCUMENTS_DIR in the text of a
// user-dirs.dirs file, with $HOME expanded; "" when the file names none.
std::string DocumentsDirFromUserDirs(const std::string& userDirs, const std::string& home);

// The user's documents folder when it exists (from user-dirs.dirs, else
// ~/Documents); "" otherwise, so the requester starts in the current folder.
std::string DocumentsFolder();
