// The global shortcut: an XTest key press on a private X server reaches the callback
// whichever window has the focus; the same combination cannot be grabbed twice.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "desktop/X11GlobalShortcut.h"
#include "support/XServerTest.h"

namespace pavrel {
namespace {

class X11Shortcut : public XServerTest {
 protected:
  static void SetUpTestSuite() {
    TXServerFixture::TOptions options;
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

  // Presses and releases Key with the modifier keys held, as a keyboard would.
  void Press(KeySym Key, std::initializer_list<KeySym> Modifiers) {
    for (KeySym m : Modifiers) {
      XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, m), True, CurrentTime);
    }
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, Key), True, CurrentTime);
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, Key), False, CurrentTime);
    for (KeySym m : Modifiers) {
      XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, m), False, CurrentTime);
    }
    XSync(Connection, False);
  }

  static bool WaitFor(const std::function<bool()>& Done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Done()) {
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  Display* Connection = nullptr;
};

TEST_F(X11Shortcut, AnXTestKeyPressReachesTheCallbackOnlyWithItsModifiers) {
  std::atomic<int> presses{0};
  {
    TX11GlobalShortcut shortcut(Server->Display(), XK_p,
                                TX11GlobalShortcut::Control | TX11GlobalShortcut::Alt,
                                [&presses] { ++presses; });
    Press(XK_p, {XK_Control_L, XK_Alt_L});
    ASSERT_TRUE(WaitFor([&] { return presses == 1; }));
    Press(XK_p, {});              // plain P goes to the focused window
    Press(XK_p, {XK_Control_L});  // so does Ctrl+P
    Press(XK_p, {XK_Control_L, XK_Alt_L});
    ASSERT_TRUE(WaitFor([&] { return presses == 2; }));
    // Caps Lock on changes nothing.
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, XK_Caps_Lock), True, CurrentTime);
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, XK_Caps_Lock), False, CurrentTime);
    Press(XK_p, {XK_Control_L, XK_Alt_L});
    EXPECT_TRUE(WaitFor([&] { return presses == 3; }));
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, XK_Caps_Lock), True, CurrentTime);
    XTestFakeKeyEvent(Connection, XKeysymToKeycode(Connection, XK_Caps_Lock), False, CurrentTime);
    XSync(Connection, False);

    // A second grab of the same combination is refused with a message.
    try {
      TX11GlobalShortcut twice(Server->Display(), XK_p,
                               TX11GlobalShortcut::Control | TX11GlobalShortcut::Alt, [] {});
      ADD_FAILURE() << "the same combination was grabbed twice";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("Ctrl+Alt+P is taken by another program"),
                std::string::npos)
          << e.what();
    }
  }
  // Gone with its object: the combination is free again and presses reach nobody.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Press(XK_p, {XK_Control_L, XK_Alt_L});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(presses, 3);
  EXPECT_NO_THROW(TX11GlobalShortcut(Server->Display(), XK_p,
                                     TX11GlobalShortcut::Control | TX11GlobalShortcut::Alt, [] {}));
  EXPECT_THROW(TX11GlobalShortcut(":999", XK_p, 0, [] {}), std::runtime_error);
}

TEST_F(X11Shortcut, AnotherCombinationFromItsTextReachesTheCallbackAndCtrlAltPDoesNot) {
  std::atomic<int> presses{0};
  const TX11GlobalShortcut::TCombination keys = TX11GlobalShortcut::Parse("Ctrl+Shift+F5");
  TX11GlobalShortcut shortcut(Server->Display(), keys.KeySym, keys.Modifiers,
                              [&presses] { ++presses; });
  Press(XK_p, {XK_Control_L, XK_Alt_L});
  Press(XK_F5, {XK_Control_L});
  Press(XK_F5, {XK_Control_L, XK_Shift_L});
  ASSERT_TRUE(WaitFor([&] { return presses >= 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(presses, 1);
}

TEST(ShortcutText, ReadsWhatAKeyEditorWritesAndWritesItBack) {
  using S = TX11GlobalShortcut;
  const auto parse = [](const std::string& Text) {
    const S::TCombination c = S::Parse(Text);
    return std::pair(c.KeySym, c.Modifiers);
  };
  EXPECT_EQ(parse("Ctrl+Alt+P"), std::pair(unsigned{XK_p}, S::Control | S::Alt));
  EXPECT_EQ(parse("Alt+Ctrl+p"), parse("Ctrl+Alt+P"));
  EXPECT_EQ(parse("Meta+F12"), std::pair(unsigned{XK_F12}, S::Super));
  EXPECT_EQ(parse("Super+F12"), parse("Meta+F12"));
  EXPECT_EQ(parse("Ctrl+Shift+PgDown"), std::pair(unsigned{XK_Next}, S::Control | S::Shift));
  EXPECT_EQ(parse("Ctrl++"), std::pair(unsigned{XK_plus}, S::Control));
  EXPECT_EQ(parse("Alt+Space"), std::pair(unsigned{XK_space}, S::Alt));
  EXPECT_EQ(parse("F7"), std::pair(unsigned{XK_F7}, 0u));
  EXPECT_EQ(parse("Ctrl+7"), std::pair(unsigned{XK_7}, S::Control));
  // The editor's own text comes back unchanged, so the store keeps what the user chose.
  for (const std::string text : {"Ctrl+Alt+P", "Ctrl+Alt+Shift+Meta+F5", "Ctrl+Del", "Alt+Esc",
                                 "Ctrl++", "Shift+Home", "Meta+Space", "Ctrl+Alt+KP_5"}) {
    const S::TCombination c = S::Parse(text);
    EXPECT_EQ(S::Describe(c.KeySym, c.Modifiers), text);
  }
}

TEST(ShortcutText, RefusesTextThatIsNoCombinationSayingWhy) {
  const auto why = [](const std::string& Text) -> std::string {
    try {
      TX11GlobalShortcut::Parse(Text);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_NE(why("").find("empty"), std::string::npos);
  EXPECT_NE(why("Ctrl+Alt").find("no key besides its modifiers"), std::string::npos);
  EXPECT_NE(why("Ctrl+").find("no key besides its modifiers"), std::string::npos);
  EXPECT_NE(why("Hyper+P").find("\"Hyper\" in the shortcut \"Hyper+P\" is not one of"),
            std::string::npos);
  EXPECT_NE(why("Ctrl+NoSuchKey").find("\"NoSuchKey\" in the shortcut"), std::string::npos);
  EXPECT_NE(why("Ctrl++P").find("is not one of"), std::string::npos);
}

}  // namespace
}  // namespace pavrel
