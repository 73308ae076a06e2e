#include "desktop/X11GlobalShortcut.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
// Only for the keysym name table, which needs no display.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pavrel {

namespace {

constexpr unsigned CapsLockBit = XCB_MOD_MASK_LOCK;
constexpr unsigned NumLockBit = XCB_MOD_MASK_2;

struct TFreeReply {
  void operator()(void* P) const { std::free(P); }
};

// The first key code whose keysyms include KeySym; 0 when none has it.
xcb_keycode_t KeyCodeOf(xcb_connection_t* Connection, xcb_keysym_t KeySym) {
  const xcb_setup_t* setup = xcb_get_setup(Connection);
  const int first = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, TFreeReply> map(
      xcb_get_keyboard_mapping_reply(
          Connection,
          xcb_get_keyboard_mapping(Connection, static_cast<xcb_keycode_t>(first),
                                   static_cast<std::uint8_t>(count)),
          nullptr));
  if (!map) {
    return 0;
  }
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  const int perCode = map->keysyms_per_keycode;
  for (int code = 0; code < count; ++code) {
    for (int i = 0; i < perCode; ++i) {
      if (syms[code * perCode + i] == KeySym) {
        return static_cast<xcb_keycode_t>(first + code);
      }
    }
  }
  return 0;
}

// Key names a key editor writes that differ from the X keysym names.
struct TKeyName {
  const char* Editor;
  unsigned KeySym;
};
constexpr std::array<TKeyName, 11> KeyNames{{
    {"Esc", XK_Escape},
    {"Backspace", XK_BackSpace},
    {"Enter", XK_KP_Enter},
    {"Ins", XK_Insert},
    {"Del", XK_Delete},
    {"PgUp", XK_Prior},
    {"PgDown", XK_Next},
    {"Space", XK_space},
    {"Print", XK_Print},
    {"Pause", XK_Pause},
    {"Tab", XK_Tab},
}};

// The modifier bit of a name; 0 for a name that is none.
unsigned ModifierOf(const std::string& Name) {
  if (Name == "Ctrl") {
    return TX11GlobalShortcut::Control;
  }
  if (Name == "Alt") {
    return TX11GlobalShortcut::Alt;
  }
  if (Name == "Shift") {
    return TX11GlobalShortcut::Shift;
  }
  if (Name == "Meta" || Name == "Super") {
    return TX11GlobalShortcut::Super;
  }
  return 0;
}

unsigned KeySymOf(const std::string& Name) {
  if (Name.size() == 1 && Name[0] > 0x20 && Name[0] < 0x7f) {
    // Letters grab by their unshifted keysym, as the keyboard map lists them first.
    const char c = Name[0];
    return static_cast<unsigned>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  for (const TKeyName& k : KeyNames) {
    if (Name == k.Editor) {
      return k.KeySym;
    }
  }
  const KeySym sym = XStringToKeysym(Name.c_str());
  return sym == NoSymbol ? 0 : static_cast<unsigned>(sym);
}

}  // namespace

struct TX11GlobalShortcut::TImpl {
  xcb_connection_t* Connection = nullptr;
  int StopFd = -1;
  std::thread Thread;
  std::function<void()> OnPress;
  xcb_keycode_t KeyCode = 0;
  unsigned Modifiers = 0;

  ~TImpl() {
    if (Thread.joinable()) {
      const std::uint64_t one = 1;
      (void)!write(StopFd, &one, sizeof one);
      Thread.join();
    }
    if (StopFd >= 0) {
      close(StopFd);
    }
    if (Connection != nullptr) {
      xcb_disconnect(Connection);
    }
  }

  void Run() {
    pollfd fds[2] = {{xcb_get_file_descriptor(Connection), POLLIN, 0}, {StopFd, POLLIN, 0}};
    for (;;) {
      while (xcb_generic_event_t* raw = xcb_poll_for_event(Connection)) {
        const std::unique_ptr<xcb_generic_event_t, TFreeReply> event(raw);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
          const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
          if (key->detail == KeyCode) {
            OnPress();
          }
        }
      }
      if (xcb_connection_has_error(Connection) != 0) {
        return;  // the server went away: no more presses
      }
      if (poll(fds, 2, -1) < 0 && errno != EINTR) {
        return;
      }
      if (fds[1].revents != 0) {
        return;
      }
    }
  }
};

TX11GlobalShortcut::TX11GlobalShortcut(const std::string& DisplayName, unsigned KeySym,
                                       unsigned Modifiers, std::function<void()> OnPress)
    : FImpl(std::make_unique<TImpl>()) {
  TImpl& d = *FImpl;
  const std::string description = Describe(KeySym, Modifiers);
  int screenNumber = 0;
  d.Connection = xcb_connect(DisplayName.empty() ? nullptr : DisplayName.c_str(), &screenNumber);
  if (xcb_connection_has_error(d.Connection) != 0) {
    throw std::runtime_error("Cannot open the X display for the shortcut " + description);
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(d.Connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
    xcb_screen_next(&screens);
  }
  const xcb_window_t root = screens.data->root;
  d.KeyCode = KeyCodeOf(d.Connection, KeySym);
  if (d.KeyCode == 0) {
    throw std::runtime_error("No key of this keyboard gives the shortcut " + description);
  }
  d.Modifiers = Modifiers;
  d.OnPress = std::move(OnPress);
  // The same combination with Caps Lock and Num Lock on or off.
  for (const unsigned extra : {0u, CapsLockBit, NumLockBit, CapsLockBit | NumLockBit}) {
    const xcb_void_cookie_t cookie =
        xcb_grab_key_checked(d.Connection, 1, root, static_cast<std::uint16_t>(Modifiers | extra),
                             d.KeyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    const std::unique_ptr<xcb_generic_error_t, TFreeReply> error(
        xcb_request_check(d.Connection, cookie));
    if (error) {
      throw std::runtime_error("The shortcut " + description +
                               " is taken by another program (X error " +
                               std::to_string(error->error_code) + ")");
    }
  }
  d.StopFd = eventfd(0, EFD_CLOEXEC);
  if (d.StopFd < 0) {
    throw std::runtime_error("Cannot make the shortcut's stop signal");
  }
  d.Thread = std::thread([&d] { d.Run(); });
}

TX11GlobalShortcut::~TX11GlobalShortcut() = default;

TX11GlobalShortcut::TCombination TX11GlobalShortcut::Parse(const std::string& Text) {
  if (Text.empty()) {
    throw std::invalid_argument("The shortcut is empty");
  }
  // The key is what follows the last separator; a trailing "++" is the plus key.
  std::string key = Text;
  std::string modifiers;
  if (Text.size() >= 2 && Text.ends_with("++")) {
    key = "+";
    modifiers = Text.substr(0, Text.size() - 2);
  } else if (const std::size_t plus = Text.rfind('+'); plus != std::string::npos && Text != "+") {
    key = Text.substr(plus + 1);
    modifiers = Text.substr(0, plus);
  }
  TCombination combination;
  std::size_t start = 0;
  while (!modifiers.empty() && start <= modifiers.size()) {
    const std::size_t end = std::min(modifiers.find('+', start), modifiers.size());
    const std::string name = modifiers.substr(start, end - start);
    const unsigned modifier = ModifierOf(name);
    if (modifier == 0) {
      throw std::invalid_argument("\"" + name + "\" in the shortcut \"" + Text +
                                  "\" is not one of Ctrl, Alt, Shift, Meta");
    }
    combination.Modifiers |= modifier;
    start = end + 1;
  }
  if (key.empty() || ModifierOf(key) != 0) {
    throw std::invalid_argument("The shortcut \"" + Text + "\" has no key besides its modifiers");
  }
  combination.KeySym = KeySymOf(key);
  if (combination.KeySym == 0) {
    throw std::invalid_argument("\"" + key + "\" in the shortcut \"" + Text +
                                "\" is not a key name");
  }
  return combination;
}

std::string TX11GlobalShortcut::Describe(unsigned KeySym, unsigned Modifiers) {
  std::string text;
  if ((Modifiers & Control) != 0) {
    text += "Ctrl+";
  }
  if ((Modifiers & Alt) != 0) {
    text += "Alt+";
  }
  if ((Modifiers & Shift) != 0) {
    text += "Shift+";
  }
  if ((Modifiers & Super) != 0) {
    text += "Meta+";
  }
  if (KeySym >= 'a' && KeySym <= 'z') {
    text += static_cast<char>(KeySym - 'a' + 'A');
    return text;
  }
  if (KeySym > 0x20 && KeySym < 0x7f) {
    text += static_cast<char>(KeySym);
    return text;
  }
  for (const TKeyName& k : KeyNames) {
    if (KeySym == k.KeySym) {
      return text + k.Editor;
    }
  }
  const char* name = XKeysymToString(KeySym);
  return text + (name != nullptr ? std::string(name) : "keysym " + std::to_string(KeySym));
}

}  // namespace pavrel
