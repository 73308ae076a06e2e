// How the program ends while it tracks and holds the left button: each termination signal,
// the window manager closing the main window, the end of the clip and a dying X server. The
// program runs as a process of its own on a private Xvfb + openbox; the button's state is
// read from the server and the store from the disk.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "DemoFrames.h"
#include "XsmpManager.h"
#include "settings/Settings.h"
#include "support/HeldClip.h"
#include "support/XServerFixture.h"

// Last: its macros clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Frames of the demo sequence up to its "Mouse Down" pose, which then stays for Hold frames.
void WriteMouseDownClip(const fs::path& File, int Hold) {
  test::WriteClip(File.string(), 12 + Hold, 30,
                  [](int Index) { return MakeDemoFrame(std::min(Index, 11)); });
}

class Ending : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("pavrel-ending-" + std::to_string(::getpid()));
    fs::create_directories(FDir / "config");
    ::setenv("XDG_CONFIG_HOME", (FDir / "config").c_str(), 1);
    WriteUserStore(DemoSkinParameters());
    FStore = UserStorePath();
    ASSERT_TRUE(fs::exists(FStore));
    Server = std::make_unique<TXServerFixture>();
    FConnection = XOpenDisplay(Server->Display().c_str());
    ASSERT_NE(FConnection, nullptr);
  }
  void TearDown() override {
    FHeld.reset();
    if (FConnection != nullptr && Server) {
      XCloseDisplay(FConnection);
    }
    Server.reset();
    fs::remove_all(FDir);
  }

  pid_t Start(const fs::path& Clip, const std::string& SessionManager = {}) {
    const fs::path runtime = FDir / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    std::vector<std::string> environment{"DISPLAY=" + Server->Display(), "QT_QPA_PLATFORM=xcb",
                                         "XDG_RUNTIME_DIR=" + runtime.string(),
                                         "XDG_CONFIG_HOME=" + (FDir / "config").string(),
                                         "PAVREL_TEST_CLIP=" + Clip.string()};
    if (!SessionManager.empty()) {
      environment.push_back("SESSION_MANAGER=" + SessionManager);
    }
    return test::Spawn(PAVREL_TEST_PROGRAM, {}, environment, (FDir / "log").string());
  }

  bool ButtonDown() { return LeftButtonDown(FConnection); }

  // Starts the program on a clip held in a pipe and waits for the pressed button.
  pid_t StartHoldingTheButton(const std::string& SessionManager = {}) {
    WriteMouseDownClip(FDir / "clip.avi", 60);
    FHeld = std::make_unique<test::THeldClip>(FDir / "clip.avi", FDir / "held.avi");
    const pid_t pid = Start(FHeld->Path(), SessionManager);
    EXPECT_TRUE(test::PollUntil([&] { return ButtonDown(); }, 30s)) << Log();
    // From here on, only the program's end can bring the store back.
    fs::remove(FStore);
    return pid;
  }

  void ExpectStoreWritten() {
    ASSERT_TRUE(fs::exists(FStore)) << Log();
    TTrackerParameters stored = DefaultParameters();
    ReadUserStore(stored);
    EXPECT_EQ(stored, DemoSkinParameters());
  }

  std::string Log() const {
    std::ifstream in(FDir / "log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The top-level client window titled Title, or 0.
  Window ClientWindow(const std::string& Title) {
    const Atom list = XInternAtom(FConnection, "_NET_CLIENT_LIST", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    Window found = 0;
    if (XGetWindowProperty(FConnection, DefaultRootWindow(FConnection), list, 0, 1024, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
      const auto* windows = reinterpret_cast<const long*>(data);
      for (unsigned long i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(FConnection, static_cast<Window>(windows[i]), &name) && name != nullptr) {
          if (Title == name) {
            found = static_cast<Window>(windows[i]);
          }
          XFree(name);
        }
      }
      XFree(data);
    }
    return found;
  }

  std::unique_ptr<TXServerFixture> Server;
  fs::path FDir;
  fs::path FStore;
  Display* FConnection = nullptr;
  std::unique_ptr<test::THeldClip> FHeld;
};

TEST_F(Ending, EachTerminationSignalReleasesTheButtonWritesTheStoreAndEndsAsTheSignal) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    const pid_t pid = StartHoldingTheButton();
    ASSERT_TRUE(ButtonDown());
    ::kill(pid, signal);
    const auto status = test::WaitForEnd(pid, 2s);
    ASSERT_TRUE(status.has_value()) << "still running 2 s after the signal\n" << Log();
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << Log();
    EXPECT_FALSE(ButtonDown());
    ExpectStoreWritten();
    FHeld.reset();
  }
}

TEST_F(Ending, TheWindowManagerClosingTheMainWindowWhileTrackingEndsTheProgram) {
  const pid_t pid = StartHoldingTheButton();
  const Window main = ClientWindow("Pavrel");
  ASSERT_NE(main, 0u);
  // The window manager lists the stop window a moment after the button goes down.
  ASSERT_TRUE(test::PollUntil([&] { return ClientWindow("Stop Tracking") != 0; }, 5s))
      << "the stop window is shown while tracking";
  // What a close box does: the window manager is asked to close the window.
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = main;
  close.xclient.message_type = XInternAtom(FConnection, "_NET_CLOSE_WINDOW", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = CurrentTime;
  close.xclient.data.l[1] = 2;
  XSendEvent(FConnection, DefaultRootWindow(FConnection), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &close);
  XFlush(FConnection);
  const auto status = test::WaitForEnd(pid, 2s);
  ASSERT_TRUE(status.has_value()) << "the stop window kept the program alive\n" << Log();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << Log();
  EXPECT_FALSE(ButtonDown());
  ExpectStoreWritten();
}

TEST_F(Ending, TheEndOfTheClipReleasesTheButton) {
  WriteMouseDownClip(FDir / "clip.avi", 45);
  const pid_t pid = Start(FDir / "clip.avi");
  ASSERT_TRUE(test::PollUntil([&] { return ButtonDown(); }, 30s)) << Log();
  EXPECT_TRUE(test::PollUntil([&] { return !ButtonDown(); }, 10s));
  EXPECT_EQ(::kill(pid, 0), 0) << "the program goes on after the clip";
  ::kill(pid, SIGTERM);
  EXPECT_TRUE(test::WaitForEnd(pid, 2s).has_value());
}

TEST_F(Ending, AnXServerThatDiesUnderTheProgramStillGetsTheStoreWritten) {
  const pid_t pid = StartHoldingTheButton();
  XCloseDisplay(FConnection);
  FConnection = nullptr;
  Server->KillServer();
  const auto status = test::WaitForEnd(pid, 5s);
  ASSERT_TRUE(status.has_value()) << "still running without its display\n" << Log();
  ExpectStoreWritten();
}

// The end of the session as a desktop's session manager brings it at logout (XSMP): a save
// for the shutdown writes the store while the program still runs (the logout may yet be
// cancelled), and the order to die releases the button and ends the program.
TEST_F(Ending, TheSessionManagersSaveWritesTheStoreAndItsDieEndsTheProgram) {
  test::TXsmpManager manager;
  const pid_t pid = StartHoldingTheButton(manager.Address());
  ASSERT_TRUE(test::PollUntil([&] { return manager.Registered() == 1; }, 5s))
      << "the program did not register with the session manager\n"
      << Log();

  manager.SaveYourselfForShutdown();
  ASSERT_TRUE(test::PollUntil([&] { return manager.SavesDone() == 1; }, 5s)) << Log();
  ExpectStoreWritten();
  EXPECT_EQ(::kill(pid, 0), 0) << "a save alone must not end the program";

  fs::remove(FStore);
  manager.Die();
  const auto status = test::WaitForEnd(pid, 2s);
  ASSERT_TRUE(status.has_value()) << "still running 2 s after the session manager's die\n" << Log();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << Log();
  EXPECT_FALSE(ButtonDown());
  ExpectStoreWritten();
}

}  // namespace
}  // namespace pavrel
