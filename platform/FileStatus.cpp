#include "platform/FileStatus.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

bool GetLastWriteTime(const std::string& path, int64_t* nanoseconds) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (nanoseconds != nullptr) {
    *nanoseconds = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                   static_cast<int64_t>(st.st_mtim.tv_nsec);
  }
  return true;
}

bool GetFileVersion(const std::string& path, FileVersion* version) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (version != nullptr) {
    version->writeTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                           static_cast<int64_t>(st.st_mtim.tv_nsec);
    version->size = static_cast<uint64_t>(st.st_size);
    version->device = static_cast<uint64_t>(st.st_dev);
    version->inode = static_cast<uint64_t>(st.st_ino);
  }
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return false;
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(folder)) {
    const char* name = entry->d_name;
    if (::strcmp(name, ".") == 0 || ::strcmp(name, "..") == 0) continue;
    found.emplace_back(name);
  }
  ::closedir(folder);
  if (names != nullptr) *names = std::move(found);
  return true;
}

bool GetFreeSpace(const std::string& path, uint64_t* bytes, int* errorCode) {
  struct statvfs vfs;
  if (::statvfs(path.c_str(), &vfs) != 0) {
    if (errorCode != nullptr) *errorCode = errno;
    return false;
  }
  if (errorCode != nullptr) *errorCode = 0;
  if (bytes != nullptr) *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

std::string ErrorMessage(int errorCode) {
  char buffer[256];
  return ::strerror_r(errorCode, buffer, sizeof buffer);  // the GNU variant: may not use buffer
}

}  // namespace platform
