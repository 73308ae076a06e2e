#include "support/XServerFixture.h"

#include "support/Process.h"

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
                    {"-displayfd", std::to_string(PassedFd), "-screen", "0", Options.Screen,
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

bool LeftButtonDown(Display* Connection) {
  Window root = 0;
  Window child = 0;
  int x = 0;
  int y = 0;
  int windowX = 0;
  int windowY = 0;
  unsigned int mask = 0;
  XQueryPointer(Connection, DefaultRootWindow(Connection), &root, &child, &x, &y, &windowX,
                &windowY, &mask);
  return (mask & Button1Mask) != 0;
}

}  // namespace pavrel
