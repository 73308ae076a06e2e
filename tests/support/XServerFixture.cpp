#include "support/XServerFixture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace pavrel {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto PollInterval = std::chrono::milliseconds(20);
// Descriptor on which Xvfb reports its display number.
constexpr int DisplayFd = 3;

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
// PassFd (if >= 0) inherited as DisplayFd. Everything is prepared before fork, so the child
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
      if (PassFd == DisplayFd) {
        ::fcntl(DisplayFd, F_SETFD, 0);
      } else if (::dup2(PassFd, DisplayFd) < 0) {
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

// Environment of this process with DISPLAY replaced (left out when Display is empty).
std::vector<std::string> EnvironmentWithDisplay(const std::string& Display) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) {
      env.emplace_back(*e);
    }
  }
  if (!Display.empty()) {
    env.push_back("DISPLAY=" + Display);
  }
  return env;
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

bool HasWindowManager(::Display* Connection) {
  const Atom check = XInternAtom(Connection, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(Connection, DefaultRootWindow(Connection), check, 0, 1,
                                        False, XA_WINDOW, &type, &format, &count, &after, &data);
  const bool found = status == Success && type == XA_WINDOW && format == 32 && count == 1 &&
                     reinterpret_cast<unsigned long*>(data)[0] != 0;
  if (data != nullptr) {
    XFree(data);
  }
  return found;
}

bool Listed(::Display* Connection, Window W) {
  const Atom list = XInternAtom(Connection, "_NET_CLIENT_LIST", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(Connection, DefaultRootWindow(Connection), list, 0, 1L << 16, False,
                         XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    const auto* windows = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < count; ++i) {
      found = found || windows[i] == W;
    }
  }
  if (data != nullptr) {
    XFree(data);
  }
  return found;
}

// openbox sets _NET_SUPPORTING_WM_CHECK before it handles requests, and a map request that
// reaches it during its start-up can wait in its queue until some other event wakes it (seen
// with openbox 3.6: over a minute without one). So map a probe window and keep waking openbox
// with a root property change until the probe is managed.
bool WindowManagerManages(::Display* Connection, Clock::time_point Deadline) {
  const Window root = DefaultRootWindow(Connection);
  const Atom ping = XInternAtom(Connection, "_PAVREL_TEST_FIXTURE_PING", False);
  const Window probe = XCreateSimpleWindow(Connection, root, 0, 0, 10, 10, 0, 0, 0);
  XStoreName(Connection, probe, "pavrel test fixture probe");
  XMapWindow(Connection, probe);
  XFlush(Connection);
  bool managed = false;
  for (long n = 0; !(managed = Listed(Connection, probe)) && Clock::now() < Deadline; ++n) {
    XChangeProperty(Connection, root, ping, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&n), 1);
    XFlush(Connection);
    std::this_thread::sleep_for(PollInterval);
  }
  XDeleteProperty(Connection, root, ping);
  XDestroyWindow(Connection, probe);
  XSync(Connection, False);
  while (managed && Listed(Connection, probe) && Clock::now() < Deadline) {
    std::this_thread::sleep_for(PollInterval);
  }
  return managed;
}

}  // namespace

TXServerFixture::TXServerFixture() : TXServerFixture(TOptions{}) {}

TXServerFixture::TXServerFixture(const TOptions& Options) {
  try {
    Start(Options);
  } catch (...) {
    Stop();
    throw;
  }
}

TXServerFixture::~TXServerFixture() {
  Stop();
}

void TXServerFixture::Start(const TOptions& Options) {
  const std::string xvfb = FindInPath("Xvfb");
  const std::string openbox = Options.WindowManager ? FindInPath("openbox") : std::string();

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/pavrel-xserver-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FLogFd = ::mkostemp(name.data(), O_CLOEXEC);
  if (FLogFd < 0) {
    throw std::runtime_error("Cannot create the X server log " + pattern + ": " +
                             std::strerror(errno));
  }
  FLogPath = name.data();

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed: " + std::string(std::strerror(errno)));
  }
  try {
    FServer = Spawn(xvfb,
                    {"-displayfd", std::to_string(DisplayFd), "-screen", "0", Options.Screen,
                     "-nolisten", "tcp", "-noreset"},
                    EnvironmentWithDisplay(""), FLogFd, pipeFds[1]);
  } catch (...) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    throw;
  }
  ::close(pipeFds[1]);

  // Xvfb writes its display number and a newline once it accepts connections.
  std::string number;
  const auto serverDeadline = Clock::now() + Options.StartTimeout;
  bool complete = false;
  while (!complete && Clock::now() < serverDeadline) {
    pollfd p{pipeFds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(PollInterval.count() * 5)) > 0) {
      char buffer[32];
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n <= 0) {
        break;  // the server closed the pipe without a number: it failed
      }
      number.append(buffer, static_cast<std::size_t>(n));
      complete = number.find('\n') != std::string::npos;
    }
  }
  ::close(pipeFds[0]);
  if (!complete) {
    throw std::runtime_error("Xvfb did not report a display number. Log:\n" + Log());
  }
  FDisplayNumber = std::stoi(number);
  FDisplay = std::string(":").append(std::to_string(FDisplayNumber));  // GCC 12 -Wrestrict

  ::Display* connection = nullptr;
  while (connection == nullptr && Clock::now() < serverDeadline) {
    if (Exited(FServer)) {
      FServer = -1;  // reaped already
      break;
    }
    connection = XOpenDisplay(FDisplay.c_str());
    if (connection == nullptr) {
      std::this_thread::sleep_for(PollInterval);
    }
  }
  if (connection == nullptr) {
    throw std::runtime_error("Xvfb on " + FDisplay + " does not answer. Log:\n" + Log());
  }

  if (Options.WindowManager) {
    FWindowManager = Spawn(openbox, {"--sm-disable"}, EnvironmentWithDisplay(FDisplay), FLogFd, -1);
    const auto wmDeadline = Clock::now() + Options.StartTimeout;
    bool ready = false;
    while (!ready && Clock::now() < wmDeadline) {
      if (Exited(FWindowManager)) {
        FWindowManager = -1;
        break;
      }
      ready = HasWindowManager(connection);
      if (!ready) {
        std::this_thread::sleep_for(PollInterval);
      }
    }
    ready = ready && WindowManagerManages(connection, wmDeadline);
    if (!ready) {
      XCloseDisplay(connection);
      throw std::runtime_error("openbox did not start on " + FDisplay + ". Log:\n" + Log());
    }
  }
  XCloseDisplay(connection);
}

void TXServerFixture::KillServer() noexcept {
  if (FServer > 0) {
    ::kill(FServer, SIGKILL);
    int status = 0;
    ::waitpid(FServer, &status, 0);
    FServer = -1;
  }
  StopProcess(FWindowManager);
  FWindowManager = -1;
}

void TXServerFixture::Stop() noexcept {
  StopProcess(FWindowManager);
  FWindowManager = -1;
  StopProcess(FServer);
  FServer = -1;
  if (FLogFd >= 0) {
    ::close(FLogFd);
    FLogFd = -1;
  }
  if (!FLogPath.empty()) {
    ::unlink(FLogPath.c_str());
    FLogPath.clear();
  }
}

void TXServerFixture::ExportDisplay() const {
  ::setenv("DISPLAY", FDisplay.c_str(), 1);
}

std::string TXServerFixture::Log() const {
  std::string log;
  if (FLogPath.empty()) {
    return log;
  }
  const int fd = ::open(FLogPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return log;
  }
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
    log.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return log;
}

}  // namespace pavrel
