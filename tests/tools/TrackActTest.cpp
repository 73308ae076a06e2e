// pavrel-track --act: the translator acts on the X server of $DISPLAY (a private Xvfb and
// openbox here), and without --act nothing reaches the desktop.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DemoFrames.h"
#include "image/BmpFile.h"
#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"
#include "support/XServerTest.h"
#include "tracking/HandTracker.h"

// Last: its macros (None, Status) clash with the headers above.
#include <X11/Xlib.h>

namespace pavrel {
namespace {

namespace fs = std::filesystem;

constexpr int FrameCount = 12;

class TrackAct : public XServerTest {
 protected:
  void SetUp() override {
    XServerTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    FDir = fs::temp_directory_path() / ("pavrel-track-act-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    for (int i = 0; i < FrameCount; ++i) {
      FFrames.push_back(MakeDemoFrame(DemoBlob(i), static_cast<std::uint32_t>(i)));
      SaveBmpFile(FFrames.back(), FDir / ("f" + std::to_string(100 + i) + ".bmp"));
    }
    FConnection = XOpenDisplay(Server->Display().c_str());
    ASSERT_NE(FConnection, nullptr);
    // A window over the whole screen that reports every button event.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask;
    FCatcher = XCreateWindow(FConnection, DefaultRootWindow(FConnection), 0, 0, 1280, 1024, 0,
                             CopyFromParent, InputOnly, CopyFromParent,
                             CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(FConnection, FCatcher);
    XWarpPointer(FConnection, 0, DefaultRootWindow(FConnection), 0, 0, 0, 0, 7, 7);
    XSync(FConnection, False);
  }
  void TearDown() override {
    if (FConnection != nullptr) {
      XCloseDisplay(FConnection);
    }
    fs::remove_all(FDir);
  }

  // Runs the program over the frames with the demo's skin colours; Display "" leaves DISPLAY
  // unset. Answers the exit status and fills Lines with standard output.
  int Run(const std::string& Display, bool Act, std::vector<std::string>& Lines, std::string& Err) {
    const TTrackerParameters skin = DemoSkinParameters();
    std::string command = (Display.empty() ? "env -u DISPLAY" : "env DISPLAY=" + Display) + " '" +
                          PAVREL_TRACK_EXE + "'" + (Act ? " --act" : "");
    for (const auto& [name, value] :
         {std::pair{"LHueBound", skin.LHueBound}, std::pair{"HHueBound", skin.HHueBound},
          std::pair{"LSatBound", skin.LSatBound}, std::pair{"HSatBound", skin.HSatBound},
          std::pair{"LValBound", skin.LValBound}}) {
      command += std::string(" --set ") + name + "=" + std::to_string(value);
    }
    command += " '" + FDir.string() + "' >'" + (FDir / "out").string() + "' 2>'" +
               (FDir / "err").string() + "'";
    const int raw = std::system(command.c_str());
    std::ifstream out(FDir / "out");
    for (std::string line; std::getline(out, line);) {
      Lines.push_back(line);
    }
    std::ifstream err(FDir / "err");
    Err.assign(std::istreambuf_iterator<char>(err), {});
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::pair<int, int> Pointer() const {
    Window root = 0;
    Window child = 0;
    int x = -1;
    int y = -1;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(FConnection, DefaultRootWindow(FConnection), &root, &child, &x, &y, &windowX,
                  &windowY, &mask);
    return {x, y};
  }

  // The button events that reached the catcher window since the last call.
  std::vector<std::string> ButtonEvents() const {
    XSync(FConnection, False);
    std::vector<std::string> events;
    XEvent e;
    while (XCheckWindowEvent(FConnection, FCatcher, ButtonPressMask | ButtonReleaseMask, &e)) {
      events.push_back((e.type == ButtonPress ? "press " : "release ") +
                       std::to_string(e.xbutton.button));
    }
    return events;
  }

  fs::path FDir;
  std::vector<TBitmap> FFrames;
  Display* FConnection = nullptr;
  Window FCatcher = 0;
};

TEST_F(TrackAct, ActMovesThePointerPressesAndReleasesTheButton) {
  // What the same frames do to a recording desktop: the last pointer move, and Mouse Down.
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
  ASSERT_EQ(action.Action, maMouseDown) << "the demo frames should show the Mouse Down pose";
  long unitsX = 0;
  long unitsY = 0;
  for (const std::string& call : recorder.Actions()) {
    std::sscanf(call.c_str(), "MovePointer(%ld,%ld)", &unitsX, &unitsY);
  }
  const auto pixel = [](long Units, long Size) {
    return static_cast<int>(std::clamp(Units * Size / 65536, 0L, Size - 1));
  };
  const std::pair<int, int> expected{pixel(unitsX, 1280), pixel(unitsY, 1024)};

  std::vector<std::string> lines;
  std::string err;
  ASSERT_EQ(Run(Server->Display(), true, lines, err), 0) << err;
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(FrameCount));
  EXPECT_EQ(nlohmann::json::parse(lines.back())["action"], "Mouse Down");

  // The server may still be working through the tool's last requests.
  std::vector<std::string> events;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((Pointer() != expected || events.size() < 2) &&
         std::chrono::steady_clock::now() < deadline) {
    for (const std::string& e : ButtonEvents()) {
      events.push_back(e);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(Pointer(), expected);
  // Mouse Down pressed the button, and the tool released it when it ended.
  EXPECT_EQ(events, (std::vector<std::string>{"press 1", "release 1"}));
}

TEST_F(TrackAct, WithoutActNothingReachesTheDesktop) {
  std::vector<std::string> lines;
  std::string err;
  ASSERT_EQ(Run(Server->Display(), false, lines, err), 0) << err;
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(FrameCount));
  EXPECT_EQ(nlohmann::json::parse(lines.back())["action"], "Mouse Down");
  EXPECT_EQ(Pointer(), (std::pair<int, int>{7, 7}));
  EXPECT_TRUE(ButtonEvents().empty());
}

TEST_F(TrackAct, ActWithoutADisplayIsAUsageError) {
  std::vector<std::string> lines;
  std::string err;
  EXPECT_EQ(Run("", true, lines, err), 2);
  EXPECT_TRUE(lines.empty());
  EXPECT_NE(err.find("DISPLAY is not set"), std::string::npos) << err;
}

}  // namespace
}  // namespace pavrel
