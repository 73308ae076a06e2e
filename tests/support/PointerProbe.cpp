#include "support/PointerProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "support/Process.h"

extern char** environ;

namespace pavrel {

TPointerProbe::TPointerProbe(const std::vector<std::string>& Environment, const std::string& AppId,
                             bool Tiled) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error("Cannot make a pipe for the pointer probe");
  }
  FRead = fds[0];
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    env.emplace_back(*e);
  }
  env.insert(env.end(), Environment.begin(), Environment.end());
  std::vector<std::string> args = {AppId};
  if (Tiled) {
    args.emplace_back("--tiled");
  }
  try {
    FPid = Spawn(PAVREL_POINTER_PROBE, args, env, fds[1], -1);
  } catch (...) {
    ::close(fds[1]);
    ::close(FRead);
    throw;
  }
  ::close(fds[1]);
  if (!WaitUntil([](const std::string& Line) { return Line.rfind("ready ", 0) == 0; },
                 std::chrono::seconds(30))) {
    StopProcess(FPid);
    ::close(FRead);
    std::string seen;
    for (const std::string& l : FLines) {
      seen += l + "\n";
    }
    throw std::runtime_error("The pointer probe did not show its window:\n" + seen);
  }
}

TPointerProbe::~TPointerProbe() {
  StopProcess(FPid);
  ::close(FRead);
}

bool TPointerProbe::ReadLine(std::string& Line, std::chrono::steady_clock::time_point Deadline) {
  for (;;) {
    const std::size_t newline = FPending.find('\n');
    if (newline != std::string::npos) {
      Line = FPending.substr(0, newline);
      FPending.erase(0, newline + 1);
      FLines.push_back(Line);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        Deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd fd{FRead, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      continue;
    }
    char buffer[512];
    const ssize_t n = ::read(FRead, buffer, sizeof buffer);
    if (n <= 0) {
      return false;  // the probe ended
    }
    FPending.append(buffer, static_cast<std::size_t>(n));
  }
}

bool TPointerProbe::WaitUntil(const std::function<bool(const std::string&)>& Accept,
                              std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  std::string line;
  while (ReadLine(line, deadline)) {
    if (Accept(line)) {
      return true;
    }
  }
  return false;
}

bool TPointerProbe::WaitFor(const std::string& Line, std::chrono::milliseconds Timeout) {
  return WaitUntil([&Line](const std::string& l) { return l == Line; }, Timeout);
}

}  // namespace pavrel

namespace pavrel {

bool TPointerProbe::WaitForPointer(const std::function<void(int)>& Move,
                                   std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
    Move(i);
    if (WaitUntil(
            [](const std::string& Line) {
              return Line.rfind("enter ", 0) == 0 || Line.rfind("motion ", 0) == 0;
            },
            std::chrono::milliseconds(100))) {
      return true;
    }
  }
  return false;
}

}  // namespace pavrel
