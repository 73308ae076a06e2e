// The monitor layout on a two-monitor X server: a 2560 x 1024 Xvfb screen split into two
// RandR 1.5 monitors, as `xrandr --setmonitor` would, and the translator's monitor choice.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <unistd.h>

#include <array>
#include <memory>
#include <mutex>
#include <vector>

#include "desktop/X11Desktop.h"
#include "mouse/MouseTranslator.h"
#include "support/XServerTest.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;

class X11Monitors : public XServerTest {
 protected:
  static void SetUpTestSuite() {
    TXServerFixture::TOptions options;
    options.Screen = "2560x1024x24";
    options.WindowManager = false;
    StartServer(options);
  }

  void SetUp() override {
    XServerTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    Connection = XOpenDisplay(Server->Display().c_str());
    ASSERT_NE(Connection, nullptr);
  }
  void TearDown() override {
    if (Connection != nullptr) {
      XCloseDisplay(Connection);
    }
  }

  // LEFT takes the screen's one output (and so replaces its own monitor) and is primary;
  // RIGHT has no output.
  void SplitInTwo() {
    const Window root = DefaultRootWindow(Connection);
    XRRScreenResources* resources = XRRGetScreenResources(Connection, root);
    ASSERT_NE(resources, nullptr);
    ASSERT_GE(resources->noutput, 1);
    const RROutput output = resources->outputs[0];
    XRRFreeScreenResources(resources);
    for (const bool left : {true, false}) {
      XRRMonitorInfo* m = XRRAllocateMonitor(Connection, left ? 1 : 0);
      m->name = XInternAtom(Connection, left ? "LEFT" : "RIGHT", False);
      m->x = left ? 0 : 1280;
      m->y = 0;
      m->width = 1280;
      m->height = 1024;
      m->mwidth = 339;
      m->mheight = 271;
      if (left) {
        m->outputs[0] = output;
      }
      XRRSetMonitor(Connection, root, m);
      XRRFreeMonitors(m);
    }
    XRRSetOutputPrimary(Connection, root, output);
    XSync(Connection, False);
  }

  std::array<int, 2> Pointer() {
    Window rootReturn = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(Connection, DefaultRootWindow(Connection), &rootReturn, &child, &x, &y, &wx, &wy,
                  &mask);
    return {x, y};
  }

  // A translator on the desktop, with this monitor choice, after a few frames of a hand
  // held at picture column 80, row 60 (the middle of the mapped region).
  std::array<int, 2> PointerFor(TX11Desktop& Desktop, std::int32_t Monitor) {
    TMouseTranslator translator(5, 160, 120, &Desktop);
    translator.SetMonitors(Desktop.Monitors());
    TPointerSettings s;
    s.Monitor = Monitor;
    translator.SetPointerSettings(s);
    for (int i = 0; i < 6; ++i) {
      translator.AddTrackerResult({60, 80}, {60, 40, 100, 80}, 0.0, 81585.0, 9.133, 0, 0);
      TMouseAction action;
      translator.Translate(true, action);
    }
    return Settled();
  }

  // The pointer once the desktop's connection's requests have arrived: the server serves
  // clients in turn, so a query may overtake them.
  std::array<int, 2> Settled() {
    std::array<int, 2> last = Pointer();
    for (int same = 0, i = 0; same < 5 && i < 200; ++i) {
      usleep(10000);
      const std::array<int, 2> now = Pointer();
      same = now == last ? same + 1 : 0;
      last = now;
    }
    return last;
  }

  Display* Connection = nullptr;
};

TEST_F(X11Monitors, LayoutPrimaryFirstAndThePointerOnTheChosenMonitorOrTheWholeDesktop) {
  {
    TX11Desktop single(Server->Display());
    EXPECT_THAT(single.Monitors(), ElementsAre(TScreenArea{0, 0, 2560, 1024}));
  }
  SplitInTwo();
  TX11Desktop desktop(Server->Display());
  EXPECT_THAT(desktop.Monitors(),
              ElementsAre(TScreenArea{0, 0, 1280, 1024}, TScreenArea{1280, 0, 1280, 1024}));
  // Column 80, row 60 maps to (32686, 32768) units: the middle of the target.
  const auto onRight = PointerFor(desktop, 2);
  EXPECT_EQ(onRight, (std::array<int, 2>{1280 + 32686 * 1280 / 65536, 512}));
  const auto onLeft = PointerFor(desktop, 1);
  EXPECT_EQ(onLeft, (std::array<int, 2>{32686 * 1280 / 65536, 512}));
  const auto whole = PointerFor(desktop, pmDesktop);
  EXPECT_EQ(whole, (std::array<int, 2>{32686 * 2560 / 65536, 512}));
  // Units off the area end at the screen's edge, as for the primary monitor.
  desktop.MovePointerIn({1280, 0, 1280, 1024}, 70000, -5);
  EXPECT_EQ(Settled(), (std::array<int, 2>{2559, 0}));
}

// RIGHT goes and comes back while the desktop is moving the pointer (RandR sends no event
// for either: the watch's second reading finds them).
TEST_F(X11Monitors, TheWatchFollowsMonitorsThatGoAndComeBackAndStopsWhenAskedTo) {
  // From a known layout whatever ran before: the two monitors gone (one that is not there is
  // an error this test ignores), then split again.
  const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  for (const char* name : {"LEFT", "RIGHT"}) {
    XRRDeleteMonitor(Connection, DefaultRootWindow(Connection),
                     XInternAtom(Connection, name, False));
  }
  XSync(Connection, False);
  SplitInTwo();
  XSetErrorHandler(previous);
  TX11Desktop desktop(Server->Display());
  std::mutex lock;
  std::vector<std::vector<TScreenArea>> seen;
  desktop.WatchMonitors([&](const std::vector<TScreenArea>& Monitors) {
    const std::scoped_lock hold(lock);
    seen.push_back(Monitors);
  });
  const auto latest = [&] {
    const std::scoped_lock hold(lock);
    return seen.empty() ? std::vector<TScreenArea>{} : seen.back();
  };
  const auto waitFor = [&](const std::vector<TScreenArea>& Layout) {
    for (int i = 0; i < 500 && latest() != Layout; ++i) {
      desktop.MovePointer(0, 0);  // the video thread keeps moving meanwhile
      usleep(10000);
    }
    return latest();
  };
  const Window root = DefaultRootWindow(Connection);
  XRRDeleteMonitor(Connection, root, XInternAtom(Connection, "RIGHT", False));
  XSync(Connection, False);
  EXPECT_THAT(waitFor({{0, 0, 1280, 1024}}), ElementsAre(TScreenArea{0, 0, 1280, 1024}));

  // RIGHT is back.
  XRRMonitorInfo* m = XRRAllocateMonitor(Connection, 0);
  m->name = XInternAtom(Connection, "RIGHT", False);
  m->x = 1280;
  m->y = 0;
  m->width = 1280;
  m->height = 1024;
  m->mwidth = 339;
  m->mheight = 271;
  XRRSetMonitor(Connection, root, m);
  XRRFreeMonitors(m);
  XSync(Connection, False);
  EXPECT_THAT(waitFor({{0, 0, 1280, 1024}, {1280, 0, 1280, 1024}}),
              ElementsAre(TScreenArea{0, 0, 1280, 1024}, TScreenArea{1280, 0, 1280, 1024}));

  // Stopped: later changes reach nobody.
  desktop.WatchMonitors({});
  const std::size_t count = [&] {
    const std::scoped_lock hold(lock);
    return seen.size();
  }();
  XRRDeleteMonitor(Connection, root, XInternAtom(Connection, "RIGHT", False));
  XSync(Connection, False);
  usleep(1500000);
  const std::scoped_lock hold(lock);
  EXPECT_EQ(seen.size(), count);
}

}  // namespace
}  // namespace pavrel
