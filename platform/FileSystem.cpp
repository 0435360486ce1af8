#include "platform/FileSystem.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/FileStatus.h"

namespace platform {

namespace {

std::atomic<unsigned long> g_tempCounter{0};


std::string ErrorText(const char* what, const std::string& path, int code) {
  return std::string(what) + " '" + path + "': " + ErrorMessage(code);
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Creates or truncates a file that only its owner can read; a link in its place is refused
// (ELOOP), and a file left by an older, looser run is narrowed as well.
int OpenPrivateForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
    const int code = errno;
    ::close(fd);
    errno = code;
    return -1;
  }
  return fd;
}

bool ReadFile(const std::string& path, std::string* contents, int* errorCode,
              std::size_t maxBytes, int extraFlags);

// Writes all bytes; returns 0 or the errno of the failing write.
int WriteAll(int fd, const void* data, std::size_t size, std::size_t* written) {
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  int result = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return result;
}

int CloseChecked(int fd) {
  // On Linux the descriptor is gone even when close reports EINTR; never retry.
  return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

}  // namespace

std::size_t MaxPathLength() { return PATH_MAX - 1; }

bool FolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeFolder(const std::string& path) {
  if (path.empty() || path.size() > MaxPathLength()) return false;
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && FolderExists(path);
}

bool WriteFileAtomically(const std::string& finalPath, const void* data, std::size_t size,
                         std::string* error) {
  if (finalPath.empty()) {
    SetError(error, "empty file name");
    return false;
  }
  if (finalPath.size() > MaxPathLength()) {
    SetError(error, "path of " + std::to_string(finalPath.size()) +
                        " bytes is longer than the limit of " + std::to_string(MaxPathLength()) +
                        ": '" + finalPath + "'");
    return false;
  }
  const std::size_t slash = finalPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : finalPath.substr(0, slash);
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  if (name.empty()) {
    SetError(error, "no file name in '" + finalPath + "'");
    return false;
  }
  const std::string prefix =
      slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  const std::string tempPath = prefix + "." + name + "." + std::to_string(::getpid()) + "." +
                               std::to_string(g_tempCounter.fetch_add(1)) + ".tmp";
  if (tempPath.size() > MaxPathLength()) {
    SetError(error, "temporary path for '" + finalPath + "' is longer than the limit of " +
                        std::to_string(MaxPathLength()));
    return false;
  }

  const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetError(error, ErrorText("cannot create", tempPath, errno));
    return false;
  }
  int code = WriteAll(fd, data, size, nullptr);
  const char* step = "cannot write";
  if (code == 0 && ::fsync(fd) != 0) {
    code = errno;
    step = "cannot flush";
  }
  const int closeCode = CloseChecked(fd);
  if (code == 0 && closeCode != 0) {
    code = closeCode;
    step = "cannot close";
  }
  if (code == 0 && ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    code = errno;
    SetError(error,
             "cannot rename '" + tempPath + "' to '" + finalPath + "': " + ErrorMessage(code));
    ::unlink(tempPath.c_str());
    return false;
  }
  if (code != 0) {
    SetError(error, ErrorText(step, tempPath, code));
    ::unlink(tempPath.c_str());
    return false;
  }
  // Makes the rename itself durable; a folder that cannot be opened or synced is not an error.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::size_t* written, int* errorCode) {
  if (written != nullptr) *written = 0;
  if (errorCode != nullptr) *errorCode = 0;
  if (path.size() > MaxPathLength()) {
    if (errorCode != nullptr) *errorCode = ENAMETOOLONG;
    return false;
  }
  const int fd = OpenPrivateForWriting(path);
  if (fd < 0) {
    if (errorCode != nullptr) *errorCode = errno;
    return false;
  }
  int code = WriteAll(fd, data, size, written);
  const int closeCode = CloseChecked(fd);
  if (code == 0) code = closeCode;
  if (errorCode != nullptr) *errorCode = code;
  return code == 0;
}

bool ReadWholeFile(const std::string& path, std::string* contents, int* errorCode) {
  return ReadWholeFile(path, contents, errorCode, static_cast<std::size_t>(-1));
}

bool ReadWholeFile(const std::string& path, std::string* contents, int* errorCode,
                   std::size_t maxBytes) {
  return ReadFile(path, contents, errorCode, maxBytes, 0);
}

bool ReadOwnFile(const std::string& path, std::string* contents, int* errorCode) {
  return ReadFile(path, contents, errorCode, static_cast<std::size_t>(-1), O_NOFOLLOW);
}

std::FILE* OpenOwnFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

std::FILE* CreatePrivateFile(const std::string& path) {
  const int fd = OpenPrivateForWriting(path);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

namespace {

bool ReadFile(const std::string& path, std::string* contents, int* errorCode,
              std::size_t maxBytes, int extraFlags) {
  if (errorCode != nullptr) *errorCode = 0;
  if (contents != nullptr) contents->clear();
  if (path.size() > MaxPathLength()) {
    if (errorCode != nullptr) *errorCode = ENAMETOOLONG;
    return false;
  }
  // Non-blocking, so that a FIFO put in the file's place cannot hold the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
  if (fd < 0) {
    if (errorCode != nullptr) *errorCode = errno;
    return false;
  }
  struct stat st;
  int code = 0;
  if (::fstat(fd, &st) != 0) {
    code = errno;
  } else if (!S_ISREG(st.st_mode)) {
    code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    code = EFBIG;
  }
  std::string data;
  if (code == 0) {
    data.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        code = errno;
        break;
      }
      if (n == 0) break;
      data.append(buffer, static_cast<std::size_t>(n));
      if (data.size() > maxBytes) {  // it grew while being read
        code = EFBIG;
        break;
      }
    }
  }
  ::close(fd);
  if (errorCode != nullptr) *errorCode = code;
  if (code != 0) return false;
  if (contents != nullptr) *contents = std::move(data);
  return true;
}

}  // namespace

}  // namespace platform
