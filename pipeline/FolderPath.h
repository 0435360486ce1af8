// Checks and creates the folder that event files are written into. Paths are POSIX paths with
// '/' as the separator. Stateless; any thread.
#pragma once

#include <string>

// True when the path names an existing folder.
bool FolderExists(const std::string& path);

// Creates the missing folders of an absolute path, one level at each '/'; a last level is
// created only when the path ends in '/'. A relative path is left alone and gives false, and so
// does an empty one. False when a level cannot be created (for example under a regular file).
bool CreateFolderPath(const std::string& path);
