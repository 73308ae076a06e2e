#pragma once

// The most general desktop: two virtual input devices made through /dev/uinput (libevdev), an
// absolute pointer (ABS_X/ABS_Y 0..65535, BTN_LEFT, REL_WHEEL) and a small keyboard for the
// desktop's own window shortcuts. Works on any compositor and on X11 once the user may write
// /dev/uinput (the udev rule `make install` puts in place). libevdev stays in the .cpp.

#include <memory>
#include <vector>

#include "desktop/DesktopChoice.h"
#include "mouse/Desktop.h"

namespace pavrel {

// One event as the kernel's input layer takes it.
struct TInputEvent {
  unsigned Type = 0;
  unsigned Code = 0;
  int Value = 0;
  bool operator==(const TInputEvent&) const = default;
};

// Writes events to a uinput device's descriptor as the kernel reads them (struct
// input_event, time left for the kernel to stamp). The descriptor is not owned. A write never
// waits for a reader: a failed write is dropped.
class TInputEventWriter {
 public:
  explicit TInputEventWriter(int Fd) : FFd(Fd) {}
  void Write(const TInputEvent& Event) const;
  // Several events in one write(), so that a report arrives whole.
  void Write(const std::vector<TInputEvent>& Events) const;

 private:
  int FFd;
};

enum class TUinputDevice { Pointer, Keyboard };

// Whether the virtual device declares this event (the declaration that creates the device).
bool UinputDeviceDeclares(TUinputDevice Device, const TInputEvent& Event);

// Window actions through the desktop's shortcuts: the window the user works in stands for
// itself (handle 1), Next Window sends the next-window shortcut and Minimize the minimise one.
// Which window is this program's own cannot be told, so ActiveWindow answers 0.
class TShortcutWindows : public TDesktop {
 public:
  explicit TShortcutWindows(TDesktopFamily Family) : FShortcuts(WindowShortcutsFor(Family)) {}
  TWindowHandle ForegroundWindow() override { return ShortcutWindow; }
  void MinimizeWindow(TWindowHandle Window) override;
  TWindowHandle ActiveWindow() override { return 0; }
  TWindowHandle FirstWindow(TWindowHandle) override { return 0; }
  TWindowHandle NextWindow(TWindowHandle) override { return 0; }
  TWindowStyle WindowStyle(TWindowHandle Window) override;
  void ActivateWindow(TWindowHandle Window) override;

  static constexpr TWindowHandle ShortcutWindow = 1;

 protected:
  // Presses the keys in order and releases them in reverse.
  virtual void PressKeys(const std::vector<int>& Keys) = 0;

 private:
  TWindowShortcuts FShortcuts;
};

class TUinputDesktop : public TShortcutWindows {
 public:
  // Creates both devices. Throws std::runtime_error with the reason (no /dev/uinput, no
  // permission) when they cannot be made.
  explicit TUinputDesktop(TDesktopFamily Family);
  // The same encoding into given descriptors instead of devices (a pipe in tests).
  TUinputDesktop(TDesktopFamily Family, int PointerFd, int KeyboardFd);
  ~TUinputDesktop() override;
  TUinputDesktop(const TUinputDesktop&) = delete;
  TUinputDesktop& operator=(const TUinputDesktop&) = delete;

  // Values outside 0..65535 end at the edge.
  void MovePointer(std::int32_t X, std::int32_t Y) override;
  // One REL_WHEEL step per 120, positive away from the user.
  void Wheel(std::int32_t Amount) override;
  void LeftButtonDown() override;
  void LeftButtonUp() override;

 protected:
  void PressKeys(const std::vector<int>& Keys) override;

 private:
  struct TDevices;
  TUinputDesktop(TDesktopFamily Family, std::unique_ptr<TDevices> Devices);

  std::unique_ptr<TDevices> FDevices;  // null when writing to given descriptors
  TInputEventWriter FPointer;
  TInputEventWriter FKeyboard;
};

}  // namespace pavrel
