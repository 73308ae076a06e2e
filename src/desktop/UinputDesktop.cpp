#include "desktop/UinputDesktop.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace pavrel {

namespace {

constexpr int FullScale = 65535;

struct TEvdevDeleter {
  void operator()(libevdev* Device) const { libevdev_free(Device); }
  void operator()(libevdev_uinput* Device) const { libevdev_uinput_destroy(Device); }
};
using TEvdev = std::unique_ptr<libevdev, TEvdevDeleter>;
using TUinput = std::unique_ptr<libevdev_uinput, TEvdevDeleter>;

// The keys the shortcuts of every desktop family use.
std::vector<int> ShortcutKeys() {
  std::vector<int> keys;
  for (const TDesktopFamily family :
       {TDesktopFamily::Gnome, TDesktopFamily::Kde, TDesktopFamily::Other}) {
    const TWindowShortcuts s = WindowShortcutsFor(family);
    keys.insert(keys.end(), s.Minimize.begin(), s.Minimize.end());
    keys.insert(keys.end(), s.NextWindow.begin(), s.NextWindow.end());
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

// The declaration a device is created from; also what the tests check the encoding against.
TEvdev DeviceTemplate(TUinputDevice Kind) {
  TEvdev device(libevdev_new());
  if (!device) {
    throw std::runtime_error("libevdev_new failed");
  }
  libevdev* d = device.get();
  libevdev_set_id_bustype(d, BUS_VIRTUAL);
  libevdev_enable_event_type(d, EV_SYN);
  libevdev_enable_event_type(d, EV_KEY);
  if (Kind == TUinputDevice::Pointer) {
    libevdev_set_name(d, "Pavrel pointer");
    input_absinfo axis{};
    axis.minimum = 0;
    axis.maximum = FullScale;
    libevdev_enable_event_type(d, EV_ABS);
    libevdev_enable_event_code(d, EV_ABS, ABS_X, &axis);
    libevdev_enable_event_code(d, EV_ABS, ABS_Y, &axis);
    libevdev_enable_event_code(d, EV_KEY, BTN_LEFT, nullptr);
    // Right and middle make it a mouse to udev's classification.
    libevdev_enable_event_code(d, EV_KEY, BTN_RIGHT, nullptr);
    libevdev_enable_event_code(d, EV_KEY, BTN_MIDDLE, nullptr);
    libevdev_enable_event_type(d, EV_REL);
    libevdev_enable_event_code(d, EV_REL, REL_WHEEL, nullptr);
  } else {
    libevdev_set_name(d, "Pavrel keyboard");
    for (const int key : ShortcutKeys()) {
      libevdev_enable_event_code(d, EV_KEY, static_cast<unsigned>(key), nullptr);
    }
  }
  return device;
}

TUinput CreateDevice(TUinputDevice Kind) {
  TEvdev declaration = DeviceTemplate(Kind);
  libevdev_uinput* device = nullptr;
  const int error =
      libevdev_uinput_create_from_device(declaration.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
  if (error < 0) {
    throw std::runtime_error(
        "/dev/uinput: " + std::string(std::strerror(-error)) +
        (error == -EACCES ? " (install the uinput rule and log in again)" : ""));
  }
  return TUinput(device);
}

const TInputEvent Report{EV_SYN, SYN_REPORT, 0};

}  // namespace

void TInputEventWriter::Write(const TInputEvent& Event) const {
  Write(std::vector<TInputEvent>{Event});
}

void TInputEventWriter::Write(const std::vector<TInputEvent>& Events) const {
  std::vector<input_event> raw(Events.size());
  for (std::size_t i = 0; i < Events.size(); ++i) {
    raw[i] = input_event{};
    raw[i].type = static_cast<std::uint16_t>(Events[i].Type);
    raw[i].code = static_cast<std::uint16_t>(Events[i].Code);
    raw[i].value = Events[i].Value;
  }
  [[maybe_unused]] const ssize_t written = ::write(FFd, raw.data(), raw.size() * sizeof raw[0]);
}

bool UinputDeviceDeclares(TUinputDevice Device, const TInputEvent& Event) {
  const TEvdev declaration = DeviceTemplate(Device);
  if (!libevdev_has_event_code(declaration.get(), Event.Type, Event.Code)) {
    return false;
  }
  const input_absinfo* axis =
      Event.Type == EV_ABS ? libevdev_get_abs_info(declaration.get(), Event.Code) : nullptr;
  return axis == nullptr || (Event.Value >= axis->minimum && Event.Value <= axis->maximum);
}

void TShortcutWindows::MinimizeWindow(TWindowHandle Window) {
  if (Window == ShortcutWindow && !FShortcuts.Minimize.empty()) {
    PressKeys(FShortcuts.Minimize);
  }
}

TWindowStyle TShortcutWindows::WindowStyle(TWindowHandle Window) {
  return Window == ShortcutWindow ? TWindowStyle{true, false} : TWindowStyle{};
}

void TShortcutWindows::ActivateWindow(TWindowHandle Window) {
  if (Window == ShortcutWindow && !FShortcuts.NextWindow.empty()) {
    PressKeys(FShortcuts.NextWindow);
  }
}

struct TUinputDesktop::TDevices {
  TUinput Pointer = CreateDevice(TUinputDevice::Pointer);
  TUinput Keyboard = CreateDevice(TUinputDevice::Keyboard);
};

TUinputDesktop::TUinputDesktop(TDesktopFamily Family)
    : TUinputDesktop(Family, std::make_unique<TDevices>()) {}

TUinputDesktop::TUinputDesktop(TDesktopFamily Family, std::unique_ptr<TDevices> Devices)
    : TShortcutWindows(Family),
      FDevices(std::move(Devices)),
      FPointer(libevdev_uinput_get_fd(FDevices->Pointer.get())),
      FKeyboard(libevdev_uinput_get_fd(FDevices->Keyboard.get())) {}

TUinputDesktop::TUinputDesktop(TDesktopFamily Family, int PointerFd, int KeyboardFd)
    : TShortcutWindows(Family), FPointer(PointerFd), FKeyboard(KeyboardFd) {}

TUinputDesktop::~TUinputDesktop() = default;

void TUinputDesktop::MovePointer(std::int32_t X, std::int32_t Y) {
  FPointer.Write({{EV_ABS, ABS_X, std::clamp(X, 0, FullScale)},
                  {EV_ABS, ABS_Y, std::clamp(Y, 0, FullScale)},
                  Report});
}

void TUinputDesktop::Wheel(std::int32_t Amount) {
  const int notches = Amount / 120;
  if (notches != 0) {
    FPointer.Write({{EV_REL, REL_WHEEL, notches}, Report});
  }
}

void TUinputDesktop::LeftButtonDown() {
  FPointer.Write({{EV_KEY, BTN_LEFT, 1}, Report});
}

void TUinputDesktop::LeftButtonUp() {
  FPointer.Write({{EV_KEY, BTN_LEFT, 0}, Report});
}

void TUinputDesktop::PressKeys(const std::vector<int>& Keys) {
  std::vector<TInputEvent> events;
  for (const int key : Keys) {
    events.push_back({EV_KEY, static_cast<unsigned>(key), 1});
    events.push_back(Report);
  }
  for (auto key = Keys.rbegin(); key != Keys.rend(); ++key) {
    events.push_back({EV_KEY, static_cast<unsigned>(*key), 0});
    events.push_back(Report);
  }
  FKeyboard.Write(events);
}

}  // namespace pavrel
