// pavrel-track --act on a wlroots compositor (a private headless sway): the pointer follows the
// frames' path through a client window, Mouse Down presses the button and the end releases it;
// auto picks the wlroots backend there and says so.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DemoFrames.h"
#include "TrackProcess.h"
#include "desktop/WlrootsDesktop.h"
#include "image/BmpFile.h"
#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"
#include "support/PointerProbe.h"
#include "support/SwayFixture.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int FrameCount = 24;

class TrackWayland : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Sway = new TSwayFixture(); }
  static void TearDownTestSuite() {
    delete Sway;
    Sway = nullptr;
  }
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("pavrel-track-wayland-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    for (int i = 0; i < FrameCount; ++i) {
      FFrames.push_back(MakeDemoFrame(DemoBlob(i), static_cast<std::uint32_t>(i)));
      SaveBmpFile(FFrames.back(), FDir / ("f" + std::to_string(100 + i) + ".bmp"));
    }
  }
  void TearDown() override { fs::remove_all(FDir); }

  // Runs the program in sway's session (no X display); answers the exit status.
  int Run(const std::string& Arguments) {
    std::string env = "env -u DISPLAY XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway";
    for (const std::string& e : Sway->ClientEnvironment()) {
      env += " '" + e + "'";
    }
    const test::TTrackRun run = test::RunTrackTool(env, Arguments, FDir);
    Out = run.Out;
    Err = run.Err;
    return run.Status;
  }
  std::string SkinAndFrames() const {
    const TTrackerParameters skin = DemoSkinParameters();
    std::string args;
    for (const auto& [name, value] :
         {std::pair{"LHueBound", skin.LHueBound}, std::pair{"HHueBound", skin.HHueBound},
          std::pair{"LSatBound", skin.LSatBound}, std::pair{"HSatBound", skin.HSatBound},
          std::pair{"LValBound", skin.LValBound}}) {
      args += std::string(" --set ") + name + "=" + std::to_string(value);
    }
    return args + " '" + FDir.string() + "'";
  }

  static TSwayFixture* Sway;
  fs::path FDir;
  std::vector<TBitmap> FFrames;
  std::string Out;
  std::string Err;
};

TSwayFixture* TrackWayland::Sway = nullptr;

TEST_F(TrackWayland, ActMovesThePointerAlongTheFramesPathAndPressesAndReleases) {
  // The path the same frames give a recording desktop, in output pixels (1280 x 720).
  THandTracker tracker(TRect{0, 0, 160, 120});
  tracker.SetParameters(DemoSkinParameters());
  TRecordingDesktop recorder;
  TMouseTranslator translator(5, 160, 120, &recorder);
  TMouseAction action;
  for (const TBitmap& frame : FFrames) {
    TTrackingResult r;
    tracker.Track(frame, r);
    translator.AddTrackerResult({r.CentreRow, r.CentreColumn}, r.Window, r.Angle, r.HuMoment1,
                                r.HuMoment2, r.HuMoment3, r.HuMoment4);
    translator.Translate(true, action);
  }
  std::vector<std::string> path;
  for (const std::string& call : recorder.Actions()) {
    long x = 0;
    long y = 0;
    if (std::sscanf(call.c_str(), "MovePointer(%ld,%ld)", &x, &y) == 2) {
      const auto pixel = [](long Units, long Size) {
        return std::clamp(Units, 0L, 65535L) * Size / 65536;
      };
      const std::string at = std::to_string(pixel(x, 1280)) + " " + std::to_string(pixel(y, 720));
      if (path.empty() || path.back() != at) {
        path.push_back(at);
      }
    }
  }
  ASSERT_GE(path.size(), 3u) << "the demo frames should move the pointer";

  TPointerProbe probe(Sway->ClientEnvironment(), "pavrel-probe");
  {
    // The pointer in the window, away from the path's first point.
    TWlrootsDesktop nudge(Sway->WaylandSocket());
    ASSERT_TRUE(probe.WaitForPointer(
        [&](int I) { nudge.MovePointer(I % 2 == 0 ? 30000 : 31000, 30000); }, 20s));
  }
  ASSERT_EQ(Run("--act --desktop=wlroots" + SkinAndFrames()), 0) << Err;
  EXPECT_EQ(Err, "Desktop: wlroots virtual pointer\n");
  // Every point of the path in order (the first may come as the pointer's entry), then the
  // button pressed by Mouse Down and released as the tool ends.
  std::size_t reached = 0;
  probe.WaitUntil(
      [&](const std::string& Line) {
        if (Line == "motion " + path[reached] || Line == "enter " + path[reached]) {
          ++reached;
        }
        return reached == path.size();
      },
      20s);
  std::string seen;
  for (const std::string& line : probe.Lines()) {
    seen += line + "\n";
  }
  EXPECT_EQ(reached, path.size()) << "stopped before " << path[std::min(reached, path.size() - 1)]
                                  << "; the window saw:\n"
                                  << seen;
  std::vector<std::string> buttons;
  for (const std::string& line : probe.Lines()) {
    if (line.rfind("button ", 0) == 0) {
      buttons.push_back(line);
    }
  }
  probe.WaitUntil(
      [&](const std::string& Line) {
        if (Line.rfind("button ", 0) == 0) {
          buttons.push_back(Line);
        }
        return buttons.size() >= 2;
      },
      10s);
  EXPECT_EQ(buttons, (std::vector<std::string>{"button 272 1", "button 272 0"}));
}

TEST_F(TrackWayland, AutoPicksTheWlrootsBackendInASwaySession) {
  ASSERT_EQ(Run("--list-desktops"), 0) << Err;
  EXPECT_NE(Out.find("wlroots: available (wlroots virtual pointer)\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("auto: Desktop: wlroots virtual pointer\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("x11: unavailable: Cannot open the X display: DISPLAY is not set\n"),
            std::string::npos)
      << Out;
}

}  // namespace
}  // namespace pavrel
