// The wlroots desktop against a real headless sway: pointer positions, the left button and
// wheel notches as a client window receives them, and the window walk as sway's focus shows it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "desktop/WlrootsDesktop.h"
#include "mouse/MouseTranslator.h"
#include "support/PointerProbe.h"
#include "support/SwayFixture.h"

namespace pavrel {
namespace {

using namespace std::chrono_literals;

class WlrootsDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Sway = new TSwayFixture(); }
  static void TearDownTestSuite() {
    delete Sway;
    Sway = nullptr;
  }

  // The app_id of the focused window, from sway's tree.
  static std::optional<std::string> Focused() {
    std::optional<std::string> found;
    const std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& Node) {
      if (Node.value("focused", false) && Node.contains("app_id") && Node["app_id"].is_string()) {
        found = Node["app_id"].get<std::string>();
      }
      for (const char* key : {"nodes", "floating_nodes"}) {
        if (Node.contains(key)) {
          for (const nlohmann::json& child : Node[key]) {
            walk(child);
          }
        }
      }
    };
    const std::string tree = Sway->Message("-t get_tree");
    if (!tree.empty()) {
      walk(nlohmann::json::parse(tree, nullptr, false));
    }
    return found;
  }

  static bool WaitForFocus(const std::string& AppId) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Focused() == AppId) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  static TSwayFixture* Sway;
};

TSwayFixture* WlrootsDesktopTest::Sway = nullptr;

TEST_F(WlrootsDesktopTest, PointerPositionsButtonAndWheelReachAWindow) {
  TPointerProbe probe(Sway->ClientEnvironment(), "pavrel-probe");
  TWlrootsDesktop desktop(Sway->WaylandSocket());
  ASSERT_TRUE(probe.WaitForPointer(
      [&](int I) { desktop.MovePointer(I % 2 == 0 ? 30000 : 31000, 30000); }, 20s));
  // Units to pixels as on X11 (units x size / 65536), off-output positions at the edge.
  const struct {
    std::int32_t X, Y;
    int Px, Py;
  } moves[] = {
      {32768, 32768, 640, 360}, {0, 0, 0, 0},         {65535, 65535, 1279, 719},
      {16384, 49152, 320, 540}, {-5136, -7209, 0, 0}, {70041, 72088, 1279, 719},
      {65371, 100, 1276, 1},
  };
  for (const auto& m : moves) {
    desktop.MovePointer(m.X, m.Y);
    const std::string at = std::to_string(m.Px) + " " + std::to_string(m.Py);
    EXPECT_TRUE(probe.WaitUntil(
        [&](const std::string& Line) { return Line == "motion " + at || Line == "enter " + at; },
        10s))
        << "no pointer event at " << at << " after MovePointer(" << m.X << ", " << m.Y << ")";
  }
  desktop.LeftButtonDown();
  EXPECT_TRUE(probe.WaitFor("button 272 1", 10s));
  desktop.LeftButtonUp();
  EXPECT_TRUE(probe.WaitFor("button 272 0", 10s));
  // +120: one notch away from the user, which Wayland scrolls up (negative).
  desktop.Wheel(120);
  EXPECT_TRUE(probe.WaitFor("discrete 0 -1", 10s));
  EXPECT_TRUE(probe.WaitFor("axis 0 -15.000000", 10s));
  desktop.Wheel(-120);
  EXPECT_TRUE(probe.WaitFor("discrete 0 1", 10s));
  EXPECT_TRUE(probe.WaitFor("axis 0 15.000000", 10s));
  desktop.Wheel(0);
  desktop.MovePointer(100, 100);
  // Nothing else arrived between: the next line is the move, not a stray wheel event.
  std::string next;
  EXPECT_TRUE(probe.WaitUntil(
      [&](const std::string& Line) {
        next = Line;
        return true;
      },
      10s));
  EXPECT_EQ(next, "motion 1 1");
}

// A compositor that cannot keep up fills the socket: the backend keeps requests back instead
// of losing the connection, and what mattered arrives in order once it has read them.
TEST_F(WlrootsDesktopTest, ABurstThatFillsTheSocketLosesNoButtonAndEndsAtTheLastPosition) {
  TPointerProbe probe(Sway->ClientEnvironment(), "pavrel-probe");
  TWlrootsDesktop desktop(Sway->WaylandSocket());
  ASSERT_TRUE(probe.WaitForPointer(
      [&](int I) { desktop.MovePointer(I % 2 == 0 ? 30000 : 31000, 30000); }, 20s));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) {
    desktop.MovePointer((i * 7919) % 65536, (i * 104729) % 65536);
    if (i == 10000) {
      desktop.LeftButtonDown();
    }
  }
  desktop.LeftButtonUp();
  desktop.MovePointer(65535, 65535);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(desktop.KeptBackRequests(), 0u) << "the burst should have filled the socket";
  EXPECT_LT(took, 5s) << "the sender waited for the compositor";
  EXPECT_TRUE(probe.WaitFor("button 272 1", 20s));
  EXPECT_TRUE(probe.WaitFor("button 272 0", 20s));
  EXPECT_TRUE(
      probe.WaitUntil([](const std::string& Line) { return Line == "motion 1279 719"; }, 20s));
}

// The translator's Next Window walk over the foreign-toplevel list, in focus order: the longest
// unused window comes to the front, so two windows alternate.
TEST_F(WlrootsDesktopTest, NextWindowActivatesTheOtherWindowAndCycles) {
  TPointerProbe first(Sway->ClientEnvironment(), "probe-a", true);
  ASSERT_TRUE(WaitForFocus("probe-a")) << Sway->Log();
  TPointerProbe second(Sway->ClientEnvironment(), "probe-b", true);
  ASSERT_TRUE(WaitForFocus("probe-b"));
  TWlrootsDesktop desktop(Sway->WaylandSocket());
  ASSERT_TRUE(desktop.HasWindowList());
  // The list arrives on the backend's own thread.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (desktop.ForegroundWindow() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  const TWindowHandle b = desktop.ForegroundWindow();
  ASSERT_NE(b, 0u);
  const TWindowHandle a = desktop.NextWindow(b);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(desktop.NextWindow(a), 0u);
  EXPECT_EQ(desktop.FirstWindow(b), b);
  EXPECT_EQ(desktop.WindowStyle(a).Visible, true);
  EXPECT_EQ(desktop.WindowStyle(a).Popup, false);
  EXPECT_EQ(desktop.ActiveWindow(), 0u) << "neither window is this program's own";

  // Three frames of the Next Window pose through the real translator.
  TMouseTranslator translator(5, 160, 120, &desktop);
  TMouseAction action;
  const auto pose = [&](double Feature1, double Feature2) {
    for (int i = 0; i < 3; ++i) {
      translator.AddTrackerResult({60, 80}, {60, 40, 100, 80}, 0, Feature1, Feature2, 0, 0);
      translator.Translate(true, action);
    }
  };
  pose(85368.0, 23.774);
  ASSERT_EQ(action.Action, maNextWindow);
  EXPECT_TRUE(WaitForFocus("probe-a"));
  pose(81585.0, 9.133);  // Mouse Up between, as a user's hand would
  const auto turned = std::chrono::steady_clock::now() + 10s;
  while (desktop.ForegroundWindow() != a && std::chrono::steady_clock::now() < turned) {
    std::this_thread::sleep_for(10ms);
  }
  pose(85368.0, 23.774);
  EXPECT_TRUE(WaitForFocus("probe-b"));
}

TEST_F(WlrootsDesktopTest, AnOwnActiveWindowIsKnownAndAMissingDisplayIsNamed) {
  TPointerProbe own(Sway->ClientEnvironment(), "pavrel", true);
  ASSERT_TRUE(WaitForFocus("pavrel"));
  TWlrootsDesktop desktop(Sway->WaylandSocket());
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (desktop.ActiveWindow() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_NE(desktop.ActiveWindow(), 0u);
  EXPECT_EQ(desktop.ActiveWindow(), desktop.ForegroundWindow());

  try {
    TWlrootsDesktop missing(Sway->RuntimeDir() + "/wayland-none");
    ADD_FAILURE() << "connected to a socket that does not exist";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("wayland-none"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace pavrel
