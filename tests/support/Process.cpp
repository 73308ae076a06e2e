#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace pavrel {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto PollInterval = std::chrono::milliseconds(20);
}  // namespace

std::string FindInPath(const std::string& Name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) {
      end = dirs.size();
    }
    const std::string candidate = dirs.substr(start, end - start) + "/" + Name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  throw std::runtime_error(Name + " not found in PATH");
}

// Starts Program with Args and Env; stdin from /dev/null, stdout and stderr to LogFd, and
// PassFd (if >= 0) inherited as PassedFd. Everything is prepared before fork, so the child
// only makes async-signal-safe calls.
pid_t Spawn(const std::string& Program, const std::vector<std::string>& Args,
            const std::vector<std::string>& Env, int LogFd, int PassFd) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (const std::string& a : Args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : Env) {
    envp.push_back(const_cast<char*>(e.c_str()));
  }
  envp.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
  }
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(LogFd, 1) < 0 || ::dup2(LogFd, 2) < 0) {
      ::_exit(127);
    }
    if (PassFd >= 0) {
      if (PassFd == PassedFd) {
        ::fcntl(PassedFd, F_SETFD, 0);
      } else if (::dup2(PassFd, PassedFd) < 0) {
        ::_exit(127);
      }
    }
    // A new process group, so that a terminal's signals meant for the test pass it by; and
    // a test that crashes takes its server with it.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
      ::_exit(127);
    }
    ::execve(Program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

bool Exited(pid_t Pid) {
  int status = 0;
  return ::waitpid(Pid, &status, WNOHANG) == Pid;
}

void StopProcess(pid_t Pid) noexcept {
  if (Pid <= 0) {
    return;
  }
  ::kill(Pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (Clock::now() < deadline) {
    const pid_t r = ::waitpid(Pid, &status, WNOHANG);
    if (r == Pid || (r < 0 && errno == ECHILD)) {
      return;
    }
    std::this_thread::sleep_for(PollInterval);
  }
  ::kill(Pid, SIGKILL);
  ::waitpid(Pid, &status, 0);
}

}  // namespace pavrel
