#include "support/SwayFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/Process.h"

namespace pavrel {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
// The unprivileged user sway runs as when the tests run as root.
constexpr uid_t Nobody = 65534;

std::string Quote(const std::string& Word) {
  std::string quoted = "'";
  for (const char c : Word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

TSwayFixture::TSwayFixture() : TSwayFixture(TOptions{}) {}

TSwayFixture::TSwayFixture(const TOptions& Options) {
  char pattern[] = "/tmp/pavrel-sway-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("Cannot create a runtime folder for sway");
  }
  FDir = pattern;
  try {
    const bool root = ::geteuid() == 0;
    if (::chmod(FDir.c_str(), 0700) != 0 || (root && ::chown(FDir.c_str(), Nobody, Nobody) != 0)) {
      throw std::runtime_error("Cannot prepare the runtime folder " + FDir);
    }
    const std::string config = FDir + "/config";
    std::ofstream(config) << "output HEADLESS-1 mode " << Options.Mode << " position 0 0\n"
                          << "default_border none\n"
                          << "focus_follows_mouse no\n"
                          << "mouse_warping none\n"
                          << "xwayland disable\n";
    const std::string log = FDir + "/sway.log";
    FLogFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FLogFd < 0) {
      throw std::runtime_error("Cannot create " + log);
    }
    const char* path = std::getenv("PATH");
    const std::vector<std::string> env = {
        "PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"),
        "HOME=" + FDir,
        "XDG_RUNTIME_DIR=" + FDir,
        "WLR_BACKENDS=headless",
        "WLR_RENDERER=pixman",
        "WLR_LIBINPUT_NO_DEVICES=1"};
    const std::string sway = FindInPath("sway");
    if (root) {
      FSway = Spawn(FindInPath("setpriv"),
                    {"--reuid=" + std::to_string(Nobody), "--regid=" + std::to_string(Nobody),
                     "--clear-groups", sway, "-c", config},
                    env, FLogFd, -1);
    } else {
      FSway = Spawn(sway, {"-c", config}, env, FLogFd, -1);
    }
    // Both sockets, then an output that answers over IPC.
    const auto deadline = Clock::now() + Options.StartTimeout;
    while (Clock::now() < deadline) {
      if (Exited(FSway)) {
        FSway = -1;
        throw std::runtime_error("sway ended at start:\n" + Log());
      }
      for (const fs::directory_entry& e : fs::directory_iterator(FDir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos) {
          FWayland = e.path().string();
        } else if (name.rfind("sway-ipc.", 0) == 0 && e.is_socket()) {
          FIpc = e.path().string();
        }
      }
      if (!FWayland.empty() && !FIpc.empty() &&
          Message("-t get_outputs").find("HEADLESS-1") != std::string::npos) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("sway did not start in time:\n" + Log());
  } catch (...) {
    Stop();
    throw;
  }
}

TSwayFixture::~TSwayFixture() {
  Stop();
}

void TSwayFixture::Stop() noexcept {
  StopProcess(FSway);
  FSway = -1;
  if (FLogFd >= 0) {
    ::close(FLogFd);
    FLogFd = -1;
  }
  std::error_code ignored;
  fs::remove_all(FDir, ignored);
}

std::vector<std::string> TSwayFixture::ClientEnvironment() const {
  return {"WAYLAND_DISPLAY=" + FWayland, "XDG_RUNTIME_DIR=" + FDir, "SWAYSOCK=" + FIpc};
}

std::string TSwayFixture::Message(const std::string& Arguments) const {
  const std::string command = "SWAYSOCK=" + Quote(FIpc) + " swaymsg " + Arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return {};
  }
  std::string out;
  std::array<char, 4096> buffer;
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    out.append(buffer.data(), n);
  }
  ::pclose(pipe);
  return out;
}

std::string TSwayFixture::Log() const {
  std::ifstream in(FDir + "/sway.log");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace pavrel
