#include "settings/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace pavrel {
namespace {

[[noreturn]] void Fail(int Error) {
  throw EFileError(std::strerror(Error));
}

// Owns a file descriptor.
class TFd {
 public:
  explicit TFd(int Fd) : FFd(Fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) {
      ::close(FFd);
    }
  }
  int Get() const { return FFd; }
  // Closes now so that the error of close itself (delayed write errors) is seen.
  int Close() {
    const int result = ::close(FFd);
    FFd = -1;
    return result;
  }

 private:
  int FFd;
};

void WriteAll(int Fd, std::string_view Data) {
  while (!Data.empty()) {
    const ssize_t written = ::write(Fd, Data.data(), Data.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail(errno);
    }
    Data.remove_prefix(static_cast<std::size_t>(written));
  }
}

void WriteSyncClose(TFd& Fd, std::string_view Data) {
  WriteAll(Fd.Get(), Data);
  if (::fsync(Fd.Get()) != 0) {
    Fail(errno);
  }
  if (Fd.Close() != 0) {
    Fail(errno);
  }
}

// Makes a finished rename durable; a folder that cannot be synced is no reason to fail.
void SyncFolder(const std::filesystem::path& Folder) {
  const int fd = ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string TemporarySuffix() {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  return ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(seed) + "-" +
         std::to_string(counter++);
}

}  // namespace

void ReplaceFileAtomically(const std::filesystem::path& Path, std::string_view Data) {
  std::filesystem::path target = Path;
  std::error_code ec;
  if (std::filesystem::is_symlink(Path, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(Path, ec);
    if (!ec) {
      target = resolved;
    }
  }
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && S_ISDIR(old.st_mode)) {
    Fail(EISDIR);
  }
  // The rename would replace a file the user made read-only; refuse as a plain write would.
  if (hadOld && ::access(target.c_str(), W_OK) != 0) {
    Fail(errno);
  }

  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target;
    temporary += TemporarySuffix();
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      Fail(errno);
    }
  }
  if (fd < 0) {
    Fail(EEXIST);
  }
  TFd file(fd);
  try {
    if (hadOld) {
      ::fchmod(file.Get(), old.st_mode & 07777);  // keep the old file's permissions
    }
    WriteSyncClose(file, Data);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
      Fail(errno);
    }
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  SyncFolder(target.parent_path());
}

void CreateFileExclusively(const std::filesystem::path& Path, std::string_view Data) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fail(errno);
  }
  TFd file(fd);
  try {
    WriteSyncClose(file, Data);
  } catch (...) {
    ::unlink(Path.c_str());
    throw;
  }
  SyncFolder(Path.parent_path());
}

std::string ReadWholeFile(const std::filesystem::path& Path, std::size_t MaxSize) {
  TFd file(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    Fail(errno);
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    Fail(errno);
  }
  if (S_ISDIR(info.st_mode)) {
    Fail(EISDIR);
  }
  if (!S_ISREG(info.st_mode)) {
    Fail(EINVAL);
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail(errno);
    }
    if (got == 0) {
      break;
    }
    if (data.size() + static_cast<std::size_t>(got) > MaxSize) {
      Fail(EFBIG);
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
  return data;
}

}  // namespace pavrel
