#pragma once

// A key combination that reaches the program wherever the focus is: a passive grab of the
// key on the root window, on a connection and a thread of its own, so that it never waits
// for the program's other X connections or its UI.

#include <functional>
#include <memory>
#include <string>

namespace pavrel {

class TX11GlobalShortcut {
 public:
  // Modifier bits.
  static constexpr unsigned Shift = 1;
  static constexpr unsigned Control = 4;
  static constexpr unsigned Alt = 8;     // Mod1
  static constexpr unsigned Super = 64;  // Mod4

  // Grabs the key of KeySym (an X keysym value such as 0x70 for "p") with exactly these
  // modifiers (Caps Lock and Num Lock ignored) on DisplayName ($DISPLAY when empty). OnPress
  // runs on the shortcut's own thread for every press. Throws std::runtime_error when there
  // is no display, no key for the keysym, or another client holds the combination.
  TX11GlobalShortcut(const std::string& DisplayName, unsigned KeySym, unsigned Modifiers,
                     std::function<void()> OnPress);
  ~TX11GlobalShortcut();
  TX11GlobalShortcut(const TX11GlobalShortcut&) = delete;
  TX11GlobalShortcut& operator=(const TX11GlobalShortcut&) = delete;

  struct TCombination {
    unsigned KeySym = 0;
    unsigned Modifiers = 0;
  };
  // Reads a combination written as a key editor writes it: modifiers among Ctrl, Alt, Shift
  // and Meta (or Super), then one key ("Ctrl+Alt+P", "Meta+F5", "Ctrl+PgUp", "Ctrl++").
  // Throws std::invalid_argument saying what is wrong.
  static TCombination Parse(const std::string& Text);
  // The combination in the same form, modifiers in the order Ctrl, Alt, Shift, Meta.
  static std::string Describe(unsigned KeySym, unsigned Modifiers);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
