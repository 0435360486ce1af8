#include "pipeline/FolderPath.h"

#include "platform/FileSystem.h"

bool FolderExists(const std::string& path) { return platform::FolderExists(path); }

bool CreateFolderPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;  // a doubled separator adds no level
    const std::string level = path.substr(0, slash);
    if (!platform::FolderExists(level) && !platform::MakeFolder(level)) return false;
  }
  return true;
}
