#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "XTestWindows.h"
#include "desktop/X11Desktop.h"
#include "mouse/MouseTranslator.h"
#include "support/XServerTest.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr int ScreenWidth = 1280;
constexpr int ScreenHeight = 1024;

// One server for the whole binary; each test cleans up its windows.
class X11Desktop : public XServerTest {
 protected:
  void SetUp() override {
    XServerTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    Connection.emplace(Server->Display());
    ASSERT_NE(Connection->Get(), nullptr);
    Desktop = std::make_unique<TX11Desktop>(Server->Display());
  }
  void TearDown() override {
    if (!Connection) {
      return;
    }
    for (Window w : Windows) {
      Connection->Destroy(w);
    }
    Desktop.reset();
    Connection.reset();
  }

  Window Create(const TTestConnection::TWindowOptions& Options) {
    const Window w = Connection->CreateWindow(Options);
    Windows.push_back(w);
    EXPECT_TRUE(Options.OverrideRedirect ? Connection->Viewable(w) : Connection->Managed(w))
        << "the window manager did not take the new window in time";
    return w;
  }

  // Units that land on Pixel: the smallest u with u * Size / 65536 >= Pixel.
  static std::int32_t UnitsFor(int Pixel, int Size) {
    return static_cast<std::int32_t>((std::int64_t{Pixel} * 65536 + Size - 1) / Size);
  }

  // Drives a translator on this desktop with Active true until Code becomes current.
  void Perform(TMouseTranslator& T, double Feature1, double Feature2) {
    for (int i = 0; i < 3; ++i) {
      T.AddTrackerResult({60, 80}, {0, 0, 160, 120}, 0.0, Feature1, Feature2, 0, 0);
      TMouseAction action;
      T.Translate(true, action);
    }
  }

  std::optional<TTestConnection> Connection;
  std::unique_ptr<TX11Desktop> Desktop;
  std::vector<Window> Windows;
};

TEST_F(X11Desktop, PointerLandsOnThePixelOfItsUnits) {
  struct TCase {
    std::int32_t X, Y;
    int PixelX, PixelY;
  };
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  const std::vector<TCase> cases{
      {0, 0, 0, 0},
      {32768, 16384, 640, 256},
      {12345, 54321, 241, 848},
      {65535, 65535, 1279, 1023},
      {70041, 72088, 1279, 1023},  // beyond full scale: the server keeps it on the screen
      {-5136, -7209, 0, 0},
      {big, -big - 1, 1279, 0},  // far beyond the protocol's 16-bit positions
      {-big - 1, big, 0, 1023},
  };
  for (const TCase& c : cases) {
    Desktop->MovePointer(c.X, c.Y);
    const std::pair<int, int> expected{c.PixelX, c.PixelY};
    EXPECT_TRUE(WaitUntil([&] { return Connection->Pointer() == expected; }))
        << "units " << c.X << ", " << c.Y << " gave " << Connection->Pointer().first << ", "
        << Connection->Pointer().second;
  }
}

TEST_F(X11Desktop, ButtonsAndWheelReachTheWindowUnderThePointer) {
  const Window w = Create({.X = 200,
                           .Y = 150,
                           .Width = 400,
                           .Height = 300,
                           .EventMask = ButtonPressMask | ButtonReleaseMask});
  int rootX = 0;
  int rootY = 0;
  Window child = 0;
  XTranslateCoordinates(Connection->Get(), w, Connection->Root(), 200, 150, &rootX, &rootY, &child);
  Desktop->MovePointer(UnitsFor(rootX, ScreenWidth), UnitsFor(rootY, ScreenHeight));
  const std::pair<int, int> target{rootX, rootY};
  ASSERT_TRUE(WaitUntil([&] { return Connection->Pointer() == target; }));

  Desktop->LeftButtonDown();
  Desktop->LeftButtonUp();
  Desktop->Wheel(120);
  Desktop->Wheel(-120);

  std::vector<std::string> events;
  WaitUntil([&] {
    XEvent e;
    while (XCheckWindowEvent(Connection->Get(), w, ButtonPressMask | ButtonReleaseMask, &e)) {
      events.push_back((e.type == ButtonPress ? "press " : "release ") +
                       std::to_string(e.xbutton.button));
    }
    return events.size() >= 6;
  });
  EXPECT_THAT(events,
              ElementsAre("press 1", "release 1", "press 4", "release 4", "press 5", "release 5"));
}

TEST_F(X11Desktop, MinimiseLeavesTheForegroundWindowIconic) {
  const Window w = Create({});
  ASSERT_TRUE(Connection->Activate(w));
  EXPECT_EQ(Desktop->ForegroundWindow(), w);
  EXPECT_EQ(Connection->WmState(w), NormalState);

  TMouseTranslator translator(5, 160, 120, Desktop.get());
  Perform(translator, 69408.69565217392, 5.795217391304349);  // Minimise
  ASSERT_EQ(translator.LastAction(), maMinimize);
  EXPECT_TRUE(WaitUntil([&] { return Connection->WmState(w) == IconicState; }));
  EXPECT_TRUE(WaitUntil([&] { return !Desktop->WindowStyle(w).Visible; }));
}

TEST_F(X11Desktop, WindowStylesFromMapStateStateAndType) {
  const Window normal = Create({});
  const Window dialog = Create({.Type = "_NET_WM_WINDOW_TYPE_DIALOG"});
  const Window utility = Create({.Type = "_NET_WM_WINDOW_TYPE_UTILITY"});
  const Window explicitNormal = Create({.Type = "_NET_WM_WINDOW_TYPE_NORMAL"});
  const Window overrideRedirect = Create({.OverrideRedirect = true});

  auto style = [&](Window W) {
    const TWindowStyle s = Desktop->WindowStyle(W);
    return std::string(s.Visible ? "visible" : "hidden") + (s.Popup ? " popup" : " normal");
  };
  EXPECT_EQ(style(normal), "visible normal");
  EXPECT_EQ(style(explicitNormal), "visible normal");
  EXPECT_EQ(style(dialog), "visible popup");
  EXPECT_EQ(style(utility), "visible popup");
  EXPECT_EQ(style(overrideRedirect), "visible popup");

  XIconifyWindow(Connection->Get(), normal, DefaultScreen(Connection->Get()));
  XFlush(Connection->Get());
  ASSERT_TRUE(WaitUntil([&] { return Connection->WmState(normal) == IconicState; }));
  EXPECT_EQ(style(normal), "hidden normal");

  // An unmapped window, and one that no longer exists: no X error may end the program.
  XUnmapWindow(Connection->Get(), overrideRedirect);
  XSync(Connection->Get(), False);
  EXPECT_EQ(style(overrideRedirect), "hidden popup");
  const Window gone =
      XCreateSimpleWindow(Connection->Get(), Connection->Root(), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(Connection->Get(), gone);
  XSync(Connection->Get(), False);
  EXPECT_EQ(style(gone), "hidden normal");
  Desktop->MinimizeWindow(gone);
  Desktop->ActivateWindow(gone);
  EXPECT_EQ(Desktop->NextWindow(gone), 0U);
  EXPECT_EQ(style(normal), "hidden normal") << "the connection still works";
}

TEST_F(X11Desktop, TransientWindowWithoutTypeIsADialog) {
  const Window owner = Create({});
  XSetWindowAttributes attributes{};
  const Window w = XCreateWindow(Connection->Get(), Connection->Root(), 50, 50, 100, 100, 0,
                                 CopyFromParent, InputOutput, CopyFromParent, 0, &attributes);
  XSetTransientForHint(Connection->Get(), w, owner);
  XMapWindow(Connection->Get(), w);
  XFlush(Connection->Get());
  Windows.push_back(w);
  ASSERT_TRUE(WaitUntil([&] { return Connection->Managed(w); }));
  EXPECT_TRUE(Desktop->WindowStyle(w).Popup);
  EXPECT_FALSE(Desktop->WindowStyle(owner).Popup);
}

TEST_F(X11Desktop, StackingWalkAndOwnActiveWindow) {
  const Window a = Create({.OurPid = true});
  const Window b = Create({});
  ASSERT_TRUE(Connection->Activate(a));
  ASSERT_TRUE(Connection->Activate(b));
  const auto stacking = Connection->Stacking();  // bottom to top
  ASSERT_GE(stacking.size(), 2U);
  ASSERT_EQ(stacking.back(), b);
  ASSERT_EQ(stacking[stacking.size() - 2], a);

  EXPECT_EQ(Desktop->ForegroundWindow(), b);
  EXPECT_EQ(Desktop->NextWindow(b), a);
  EXPECT_EQ(Desktop->NextWindow(stacking.front()), 0U);
  EXPECT_EQ(Desktop->NextWindow(0), 0U);
  EXPECT_EQ(Desktop->FirstWindow(a), b);
  EXPECT_EQ(Desktop->FirstWindow(0), 0U);
  EXPECT_EQ(Desktop->FirstWindow(Connection->Root()), 0U) << "not in the stacking order";

  EXPECT_EQ(Desktop->ActiveWindow(), 0U) << "b does not carry this process's id";
  ASSERT_TRUE(Connection->Activate(a));
  EXPECT_EQ(Desktop->ActiveWindow(), a);
}

TEST_F(X11Desktop, NextWindowActivatesTheBottomMostNormalWindow) {
  // Bottom to top: a dialog, a minimised window, then A, B and C; C in front.
  const Window dialog = Create({.Type = "_NET_WM_WINDOW_TYPE_DIALOG"});
  const Window minimised = Create({});
  const Window a = Create({});
  const Window b = Create({});
  const Window c = Create({});
  const Window popup = Create({.OverrideRedirect = true});
  (void)popup;
  ASSERT_TRUE(Connection->Activate(dialog));
  ASSERT_TRUE(Connection->Activate(minimised));
  XIconifyWindow(Connection->Get(), minimised, DefaultScreen(Connection->Get()));
  XFlush(Connection->Get());
  ASSERT_TRUE(WaitUntil([&] { return Connection->WmState(minimised) == IconicState; }));
  ASSERT_TRUE(Connection->Activate(a));
  ASSERT_TRUE(Connection->Activate(b));
  ASSERT_TRUE(Connection->Activate(c));
  const auto stacking = Connection->Stacking();
  auto position = [&](Window W) {
    return std::find(stacking.begin(), stacking.end(), W) - stacking.begin();
  };
  ASSERT_LT(position(dialog), position(a)) << "the dialog must lie below A to be skipped";
  ASSERT_LT(position(minimised), position(a));
  ASSERT_EQ(stacking.back(), c);

  TMouseTranslator translator(5, 160, 120, Desktop.get());
  Perform(translator, 85368.0, 23.774);  // Next Window
  ASSERT_EQ(translator.LastAction(), maNextWindow);
  EXPECT_TRUE(WaitUntil([&] { return Connection->Active() == a; }))
      << "active window " << Connection->Active();
  EXPECT_TRUE(WaitUntil([&] { return Connection->Stacking().back() == a; }));
  EXPECT_EQ(Connection->WmState(minimised), IconicState);
  EXPECT_EQ(Connection->WmState(dialog), NormalState);
  EXPECT_NE(Connection->Active(), dialog);
}

TEST(X11DesktopWithoutServer, NoDisplayGivesAClearError) {
  int number = 4000;
  struct stat info;
  while (::stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &info) == 0) {
    ++number;
  }
  const std::string name = ":" + std::to_string(number);
  try {
    TX11Desktop desktop(name);
    FAIL() << "a desktop on " << name << " was created";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("\"" + name + "\""));
  }

  const char* saved = std::getenv("DISPLAY");
  const std::string savedDisplay = saved != nullptr ? saved : "";
  ::unsetenv("DISPLAY");
  try {
    TX11Desktop desktop;
    FAIL() << "a desktop without DISPLAY was created";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("DISPLAY is not set"));
  }
  ::setenv("DISPLAY", name.c_str(), 1);
  EXPECT_THROW(TX11Desktop(), std::runtime_error);
  if (saved != nullptr) {
    ::setenv("DISPLAY", savedDisplay.c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}

}  // namespace
}  // namespace pavrel
