#include "platform/DurableFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/FileStatus.h"

namespace platform {

namespace {

FileResult Failure(int code, const std::string& what, const std::string& path) {
  FileResult result;
  switch (code) {
    case EEXIST:
    case ENOTEMPTY:
      result.kind = FileResult::kExists;
      break;
    case ENOENT:
    case ENOTDIR:
      result.kind = FileResult::kNotFound;
      break;
    case ENOSPC:
    case EDQUOT:
      result.kind = FileResult::kNoSpace;
      break;
    case EROFS:
    case EACCES:
    case EPERM:
      result.kind = FileResult::kReadOnly;
      break;
    case EXDEV:
      result.kind = FileResult::kCrossDevice;
      break;
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
      result.kind = FileResult::kUnsupported;
      break;
    default:
      result.kind = FileResult::kOther;
  }
  result.text = what + " '" + path + "': " + ErrorMessage(code);
  return result;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Writes all bytes; 0 or the errno of the failing write.
int WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Closes a descriptor when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports a failed close, which may be a write error reported late.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
  }

 private:
  int fd_;
};

class PosixDurableFiles : public DurableFiles {
 public:
  FileResult MakeFolder(const std::string& folder) override {
    if (folder.empty()) return Failure(ENOENT, "Cannot create folder", folder);
    for (std::size_t slash = folder.find('/', 1); slash <= folder.size();
         slash = slash == folder.size() ? slash + 1 : folder.find('/', slash + 1)) {
      if (slash == std::string::npos) slash = folder.size();
      const std::string level = folder.substr(0, slash);
      if (!level.empty() && ::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
        return Failure(errno, "Cannot create folder", level);
      }
    }
    return FileResult::Success();
  }

  FileResult MakePrivateFolder(const std::string& folder) override {
    if (folder.empty()) return Failure(ENOENT, "Cannot create folder", folder);
    const std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      const FileResult parent = MakeFolder(folder.substr(0, slash));
      if (!parent.Ok()) return parent;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return Failure(errno, "Cannot create folder", folder);
    }
    ScopedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return Failure(errno, "Cannot open folder", folder);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return Failure(errno, "Cannot look at folder", folder);
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
      return Failure(errno, "Cannot make folder private", folder);
    }
    return FileResult::Success();
  }

  FileResult WriteSynced(const std::string& folder, const std::string& name,
                         const std::string& bytes, Readers readers) override {
    std::vector<NewFile> files{NewFile{name, &bytes, FileResult()}};
    WriteAllSynced(folder, files, readers);
    return files[0].result;
  }

  void WriteAllSynced(const std::string& folder, std::vector<NewFile>& files,
                      Readers readers) override {
    std::vector<int> fds(files.size(), -1);
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string path = Join(folder, files[i].name);
      fds[i] = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      readers == Readers::kOwner ? 0600 : 0666);
      if (fds[i] < 0) {
        files[i].result = Failure(errno, "Cannot create", path);
        continue;
      }
      const int written = WriteAll(fds[i], *files[i].bytes);
      if (written != 0) {
        files[i].result = Failure(written, "Cannot write", path);
      } else {
        // Starts the write-back now, so that the syncs below find most of it under way.
        ::sync_file_range(fds[i], 0, 0, SYNC_FILE_RANGE_WRITE);
      }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (fds[i] < 0) continue;
      ScopedFd fd(fds[i]);
      if (!files[i].result.Ok()) continue;
      const std::string path = Join(folder, files[i].name);
      // A failed sync is final: the kernel may already have dropped the pages it could not
      // write, so the file is never trusted afterwards.
      if (::fdatasync(fd.get()) != 0) {
        files[i].result = Failure(errno, "Cannot sync", path);
        continue;
      }
      const int closed = fd.Close();
      if (closed != 0) files[i].result = Failure(closed, "Cannot close", path);
    }
  }

  FileResult Rename(const std::string& fromFolder, const std::string& fromName,
                    const std::string& toFolder, const std::string& toName,
                    bool noReplace) override {
    const std::string from = Join(fromFolder, fromName);
    const std::string to = Join(toFolder, toName);
    const int rc = noReplace ? ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                                           RENAME_NOREPLACE)
                             : ::rename(from.c_str(), to.c_str());
    if (rc != 0) return Failure(errno, "Cannot rename '" + from + "' to", to);
    return FileResult::Success();
  }

  FileResult Remove(const std::string& folder, const std::string& name) override {
    const std::string path = Join(folder, name);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Failure(errno, "Cannot remove", path);
    return FileResult::Success();
  }

  FileResult SyncFolder(const std::string& folder) override {
    ScopedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return Failure(errno, "Cannot open folder", folder);
    if (::fsync(fd.get()) != 0) return Failure(errno, "Cannot sync folder", folder);
    return FileResult::Success();
  }

  FileResult List(const std::string& folder, std::vector<Entry>* entries) override {
    entries->clear();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return Failure(errno, "Cannot read folder", folder);
    while (const dirent* entry = ::readdir(dir)) {
      struct stat st;
      if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode)) {
        entries->push_back(Entry{entry->d_name, static_cast<uint64_t>(st.st_size)});
      }
    }
    ::closedir(dir);
    return FileResult::Success();
  }

  FileResult Read(const std::string& folder, const std::string& name, std::size_t maxBytes,
                  std::string* bytes) override {
    const std::string path = Join(folder, name);
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return Failure(errno, "Cannot open", path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return Failure(errno, "Cannot look at", path);
    if (!S_ISREG(st.st_mode)) return Failure(EINVAL, "Not a regular file", path);
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return Failure(EFBIG, "Cannot read", path);
    bytes->assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes->size()) {
      const ssize_t n = ::read(fd.get(), &(*bytes)[done], bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Failure(errno, "Cannot read", path);
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes->resize(done);
    return FileResult::Success();
  }

  FileResult FreeBytes(const std::string& folder, uint64_t* bytes) override {
    struct statvfs vfs;
    if (::statvfs(folder.c_str(), &vfs) != 0) return Failure(errno, "Cannot ask free space of", folder);
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return FileResult::Success();
  }

  bool SameFileSystem(const std::string& a, const std::string& b) override {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
  }
};

}  // namespace

DurableFiles& RealDurableFiles() {
  static PosixDurableFiles files;
  return files;
}

}  // namespace platform
