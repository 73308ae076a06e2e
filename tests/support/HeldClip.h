#pragma once

// Helpers for tests that end a running program: a clip served through a named pipe that
// stops being written (a stalled source), and a child process's end with a time limit.
// Nothing here includes Xlib.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pavrel::test {

// A fifo at Path that serves the bytes of File and then stays open without writing: the
// reader sees every frame, then waits for good. The write end is opened for reading too, so
// that a reader that opens and closes the pipe while it probes it never breaks it.
class THeldClip {
 public:
  THeldClip(const std::filesystem::path& File, std::filesystem::path Path)
      : FPath(std::move(Path)) {
    std::ifstream in(File, std::ios::binary);
    FBytes.assign(std::istreambuf_iterator<char>(in), {});
    if (FBytes.empty() || ::mkfifo(FPath.c_str(), 0600) != 0) {
      throw std::runtime_error("cannot make the fifo " + FPath.string());
    }
    FFd = ::open(FPath.c_str(), O_RDWR);
    if (FFd < 0) {
      throw std::runtime_error("cannot open the fifo " + FPath.string());
    }
    FWriter = std::thread([this] {
      std::size_t done = 0;
      while (!FQuit && done < FBytes.size()) {
        const ssize_t n = ::write(FFd, FBytes.data() + done, FBytes.size() - done);
        if (n <= 0) {
          break;
        }
        done += static_cast<std::size_t>(n);
      }
      FDone = true;
    });
  }
  ~THeldClip() {
    FQuit = true;
    // A writer blocked on a full pipe goes on once the pipe is drained.
    std::array<char, 65536> sink{};
    const int drain = ::open(FPath.c_str(), O_RDONLY | O_NONBLOCK);
    while (!FDone) {
      if (drain >= 0 && ::read(drain, sink.data(), sink.size()) <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    FWriter.join();
    if (drain >= 0) {
      ::close(drain);
    }
    ::close(FFd);
    std::filesystem::remove(FPath);
  }
  THeldClip(const THeldClip&) = delete;
  THeldClip& operator=(const THeldClip&) = delete;

  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
  std::vector<char> FBytes;
  int FFd = -1;
  std::atomic<bool> FQuit{false};
  std::atomic<bool> FDone{false};
  std::thread FWriter;
};

// Starts Program with Arguments and the extra Environment ("NAME=VALUE"); standard output
// and error go to OutFile.
inline pid_t Spawn(const std::string& Program, const std::vector<std::string>& Arguments,
                   const std::vector<std::string>& Environment, const std::string& OutFile) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& setting : Environment) {
      ::putenv(const_cast<char*>(setting.c_str()));
    }
    const int out = ::open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(Program.c_str())};
    for (const std::string& argument : Arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(Program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// The raw wait status once Pid has ended, or nullopt after Timeout (the process is then
// killed and reaped).
inline std::optional<int> WaitForEnd(pid_t Pid, std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(Pid, &status, WNOHANG) == Pid) {
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(Pid, SIGKILL);
  ::waitpid(Pid, &status, 0);
  return std::nullopt;
}

// Waits until Condition holds or Timeout passes; answers Condition().
template <typename TCondition>
bool PollUntil(TCondition Condition, std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return Condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace pavrel::test
