#include "settings/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
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

constexpr std::string_view kTemporaryMark = ".tmp-";

// NAME.tmp-PID-SEED-COUNT: the writer's process id comes first, so that a file left by a
// save that was killed can be told from one still being written.
std::string TemporarySuffix() {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  return std::string(kTemporaryMark) + std::to_string(::getpid()) + "-" + std::to_string(seed) +
         "-" + std::to_string(counter++);
}

// The writer's process id of a temporary name made for Target's name, or 0 for any other name.
pid_t TemporaryOwner(std::string_view Name, std::string_view Target) {
  if (Name.size() <= Target.size() + kTemporaryMark.size() || !Name.starts_with(Target) ||
      Name.substr(Target.size(), kTemporaryMark.size()) != kTemporaryMark) {
    return 0;
  }
  Name.remove_prefix(Target.size() + kTemporaryMark.size());
  long long numbers[3] = {};
  for (int i = 0; i < 3; ++i) {
    const auto [end, ec] = std::from_chars(Name.data(), Name.data() + Name.size(), numbers[i]);
    if (ec != std::errc() || end == Name.data() || numbers[i] < 0) {
      return 0;
    }
    Name.remove_prefix(static_cast<std::size_t>(end - Name.data()));
    if (i < 2) {
      if (!Name.starts_with('-')) {
        return 0;
      }
      Name.remove_prefix(1);
    }
  }
  if (!Name.empty() || numbers[0] <= 0 || numbers[0] > std::numeric_limits<pid_t>::max()) {
    return 0;
  }
  return static_cast<pid_t>(numbers[0]);
}

// Removes the temporary files of saves of Target that were killed before they could clean
// up: those whose writing process no longer runs. A file of a live process (another save
// going on now) is left alone; failures change nothing.
void RemoveDeadTemporaries(const std::filesystem::path& Target) {
  const std::string targetName = Target.filename().string();
  const std::filesystem::path folder = Target.parent_path().empty() ? "." : Target.parent_path();
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t owner = TemporaryOwner(name, targetName);
    if (owner != 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      if (it->is_regular_file(ignored) && !it->is_symlink(ignored)) {
        ::unlink(it->path().c_str());
      }
    }
  }
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

  RemoveDeadTemporaries(target);
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
