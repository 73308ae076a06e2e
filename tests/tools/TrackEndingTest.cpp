// How pavrel-track --act ends while it holds the left button: each termination signal, and
// a reader that closes its output; and how a damaged clip ends: reported, with status 1.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "DemoFrames.h"
#include "support/HeldClip.h"
#include "support/XServerTest.h"

// Last: its macros clash with the headers above.
#include <X11/Xlib.h>

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TrackEnding : public XServerTest {
 protected:
  void SetUp() override {
    XServerTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    FDir = fs::temp_directory_path() / ("pavrel-track-ending-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    FConnection = XOpenDisplay(Server->Display().c_str());
    ASSERT_NE(FConnection, nullptr);
  }
  void TearDown() override {
    if (FConnection != nullptr) {
      XCloseDisplay(FConnection);
    }
    fs::remove_all(FDir);
  }

  // The demo frames up to their "Mouse Down" pose, which then stays for Hold frames.
  fs::path MouseDownClip(int Hold) {
    const fs::path file = FDir / ("clip-" + std::to_string(Hold) + ".avi");
    test::WriteClip(file.string(), 12 + Hold, 30,
                    [](int Index) { return MakeDemoFrame(std::min(Index, 11)); });
    return file;
  }

  std::vector<std::string> Arguments(const fs::path& Clip) const {
    const TTrackerParameters skin = DemoSkinParameters();
    return {"--act",
            "--set",
            "LHueBound=" + std::to_string(skin.LHueBound),
            "--set",
            "HHueBound=" + std::to_string(skin.HHueBound),
            "--set",
            "LSatBound=" + std::to_string(skin.LSatBound),
            "--set",
            "HSatBound=" + std::to_string(skin.HSatBound),
            "--set",
            "LValBound=" + std::to_string(skin.LValBound),
            Clip.string()};
  }

  std::vector<std::string> Environment() const { return {"DISPLAY=" + Server->Display()}; }

  bool ButtonDown() { return LeftButtonDown(FConnection); }

  std::string Output() const {
    std::ifstream in(FDir / "out");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path FDir;
  Display* FConnection = nullptr;
};

TEST_F(TrackEnding, EachTerminationSignalReleasesTheButtonAndEndsAsTheSignal) {
  const fs::path clip = MouseDownClip(30);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    // Every frame is tracked, then the pipe gives nothing more: the tool waits, button down.
    test::THeldClip held(clip, FDir / "held.avi");
    const pid_t pid = test::Spawn(PAVREL_TRACK_EXE, Arguments(held.Path()), Environment(),
                                  (FDir / "out").string());
    ASSERT_TRUE(test::PollUntil([&] { return ButtonDown(); }, 30s)) << Output();
    ::kill(pid, signal);
    const auto status = test::WaitForEnd(pid, 2s);
    ASSERT_TRUE(status.has_value()) << "still running 2 s after the signal\n" << Output();
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << Output();
    EXPECT_FALSE(ButtonDown());
  }
}

TEST_F(TrackEnding, AClosedOutputEndsTheRunAndReleasesTheButton) {
  // More lines than a pipe holds: the tool is still writing when its reader goes.
  const fs::path clip = MouseDownClip(1200);
  std::array<int, 2> pipe{};
  ASSERT_EQ(::pipe(pipe.data()), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe[1], STDOUT_FILENO);
    ::close(pipe[0]);
    ::close(pipe[1]);
    ::setenv("DISPLAY", Server->Display().c_str(), 1);
    std::vector<std::string> arguments = Arguments(clip);
    std::vector<char*> argv{const_cast<char*>(PAVREL_TRACK_EXE)};
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ::execv(PAVREL_TRACK_EXE, argv.data());
    ::_exit(127);
  }
  ::close(pipe[1]);
  ASSERT_TRUE(test::PollUntil([&] { return ButtonDown(); }, 30s));
  ::close(pipe[0]);  // the reader goes away with the tool blocked on a full pipe
  const auto status = test::WaitForEnd(pid, 2s);
  ASSERT_TRUE(status.has_value()) << "still running 2 s after its output closed";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGPIPE);
  EXPECT_FALSE(ButtonDown());
}

TEST_F(TrackEnding, AClipThatBreaksOffIsReportedAfterItsFramesWithStatusOne) {
  const fs::path clip = MouseDownClip(48);
  // Garbage over the second half of the frames, the file's length unchanged.
  std::string bytes;
  {
    std::ifstream in(clip, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::mt19937 noise(7);
  for (std::size_t i = bytes.size() / 2; i + 1024 < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(noise());
  }
  const fs::path damaged = FDir / "damaged.avi";
  std::ofstream(damaged, std::ios::binary) << bytes;

  const pid_t pid = test::Spawn(PAVREL_TRACK_EXE, {damaged.string()}, {}, (FDir / "out").string());
  const auto status = test::WaitForEnd(pid, 60s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << Output();
  const std::string output = Output();
  // The frames before the damage, then the error, on stderr as well as in the last line.
  EXPECT_NE(output.find("{\"frame\":20,"), std::string::npos) << output;
  EXPECT_NE(output.find("pavrel-track: " + damaged.string() + " ended in an error after"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("\"error\""), std::string::npos) << output;
}

}  // namespace
}  // namespace pavrel
