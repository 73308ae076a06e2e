// pavrel-track's desktop options: --list-desktops, --desktop=NAME, and the "Desktop: ..." line
// --act prints on standard error. Here with no display at all, so every answer is known.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "DemoFrames.h"
#include "TrackProcess.h"
#include "image/BmpFile.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;

class TrackDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("pavrel-track-desktop-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    SaveBmpFile(MakeDemoFrame(DemoBlob(0), 0), FDir / "f.bmp");
  }
  void TearDown() override { fs::remove_all(FDir); }

  // Runs the program without any session variable; answers the exit status.
  int Run(const std::string& Arguments) {
    const test::TTrackRun run = test::RunTrackTool(
        "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE -u XDG_CURRENT_DESKTOP", Arguments,
        FDir);
    Out = run.Out;
    Err = run.Err;
    return run.Status;
  }
  std::string Frame() const { return "'" + (FDir / "f.bmp").string() + "'"; }

  fs::path FDir;
  std::string Out;
  std::string Err;
};

TEST_F(TrackDesktop, ListDesktopsNamesEveryBackendWithItsReason) {
  ASSERT_EQ(Run("--list-desktops"), 0) << Err;
  std::istringstream lines(Out);
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) {
    got.push_back(line);
  }
  ASSERT_EQ(got.size(), 5u) << Out;
  EXPECT_EQ(got[0], "x11: unavailable: Cannot open the X display: DISPLAY is not set");
  EXPECT_EQ(got[1].rfind("portal: unavailable: ", 0), 0u) << got[1];
  EXPECT_EQ(got[2].rfind("wlroots: unavailable: ", 0), 0u) << got[2];
  if (::access("/dev/uinput", W_OK) != 0) {  // where it is writable, uinput opens
    EXPECT_EQ(got[3].rfind("uinput: unavailable: /dev/uinput: ", 0), 0u) << got[3];
    EXPECT_EQ(got[4].rfind("auto: Desktop: none, pointer actions unavailable: no X display", 0), 0u)
        << got[4];
  }
}

TEST_F(TrackDesktop, ActPrintsTheDesktopLineAndFailsBeforeAnyFrameWhenNoneOpens) {
  EXPECT_EQ(Run("--act --desktop=x11 " + Frame()), 2);
  EXPECT_TRUE(Out.empty()) << Out;
  EXPECT_EQ(Err.rfind("Desktop: none, pointer actions unavailable: X11: Cannot open the X "
                      "display: DISPLAY is not set\n",
                      0),
            0u)
      << Err;
  EXPECT_EQ(Run("--act --desktop=portal " + Frame()), 2);
  EXPECT_NE(Err.find("Desktop: none, pointer actions unavailable: RemoteDesktop portal: "),
            std::string::npos)
      << Err;
}

TEST_F(TrackDesktop, AnUnknownDesktopIsAUsageError) {
  EXPECT_EQ(Run("--act --desktop=mir " + Frame()), 2);
  EXPECT_TRUE(Out.empty());
  EXPECT_NE(Err.find("--desktop"), std::string::npos) << Err;
  // Without --act the desktop is never opened: tracking runs as before.
  EXPECT_EQ(Run("--desktop=x11 " + Frame()), 0) << Err;
  EXPECT_EQ(Err.find("Desktop:"), std::string::npos) << Err;
}

}  // namespace
}  // namespace pavrel
