// The uinput desktop's events, read back from the descriptor its writer writes to (a pipe
// here, the device in real use), checked against the devices' own declarations; and the real
// devices where /dev/uinput is writable.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "desktop/UinputDesktop.h"
#include "mouse/MouseTranslator.h"

namespace pavrel {
namespace {

constexpr TInputEvent Syn{EV_SYN, SYN_REPORT, 0};

// A pipe whose read end gives back what the writer wrote, as struct input_event records.
class TPipe {
 public:
  TPipe() {
    if (::pipe2(FFds, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::runtime_error("pipe2 failed");
    }
  }
  ~TPipe() {
    ::close(FFds[0]);
    ::close(FFds[1]);
  }
  int WriteEnd() const { return FFds[1]; }
  std::vector<TInputEvent> Read() const {
    std::vector<TInputEvent> events;
    input_event raw{};
    while (::read(FFds[0], &raw, sizeof raw) == static_cast<ssize_t>(sizeof raw)) {
      EXPECT_EQ(raw.time.tv_sec, 0) << "the kernel stamps the time";
      events.push_back({raw.type, raw.code, raw.value});
    }
    return events;
  }

 private:
  int FFds[2] = {-1, -1};
};

class UinputEncoding : public ::testing::Test {
 protected:
  void Expect(const TPipe& Pipe, TUinputDevice Device, const std::vector<TInputEvent>& Expected) {
    const std::vector<TInputEvent> got = Pipe.Read();
    ASSERT_EQ(got.size(), Expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Type, Expected[i].Type) << i;
      EXPECT_EQ(got[i].Code, Expected[i].Code) << i;
      EXPECT_EQ(got[i].Value, Expected[i].Value) << i;
      if (got[i].Type != EV_SYN) {
        EXPECT_TRUE(UinputDeviceDeclares(Device, got[i]))
            << "event " << i << " (" << got[i].Type << ", " << got[i].Code << ", " << got[i].Value
            << ") is not declared by the device";
      }
    }
  }
  TPipe Pointer;
  TPipe Keyboard;
};

TEST_F(UinputEncoding, PointerMovesButtonsAndWheelAreDeclaredReports) {
  TUinputDesktop desktop(TDesktopFamily::Other, Pointer.WriteEnd(), Keyboard.WriteEnd());
  desktop.MovePointer(32768, 100);
  desktop.MovePointer(-5136, 72088);  // off the screen: at its edges
  desktop.MovePointer(65535, 0);
  Expect(Pointer, TUinputDevice::Pointer,
         {{EV_ABS, ABS_X, 32768},
          {EV_ABS, ABS_Y, 100},
          Syn,
          {EV_ABS, ABS_X, 0},
          {EV_ABS, ABS_Y, 65535},
          Syn,
          {EV_ABS, ABS_X, 65535},
          {EV_ABS, ABS_Y, 0},
          Syn});
  desktop.LeftButtonDown();
  desktop.LeftButtonUp();
  desktop.Wheel(120);
  desktop.Wheel(-120);
  desktop.Wheel(0);
  Expect(Pointer, TUinputDevice::Pointer,
         {{EV_KEY, BTN_LEFT, 1},
          Syn,
          {EV_KEY, BTN_LEFT, 0},
          Syn,
          {EV_REL, REL_WHEEL, 1},
          Syn,
          {EV_REL, REL_WHEEL, -1},
          Syn});
  EXPECT_TRUE(Keyboard.Read().empty());
  // Declarations: what the device does not have is refused.
  EXPECT_FALSE(UinputDeviceDeclares(TUinputDevice::Pointer, {EV_ABS, ABS_X, 65536}));
  EXPECT_FALSE(UinputDeviceDeclares(TUinputDevice::Pointer, {EV_KEY, KEY_A, 1}));
  EXPECT_FALSE(UinputDeviceDeclares(TUinputDevice::Keyboard, {EV_KEY, BTN_LEFT, 1}));
}

// The translator's Minimize and Next Window poses become the desktop's shortcuts.
TEST_F(UinputEncoding, WindowActionsSendTheDesktopsShortcuts) {
  const auto pose = [](TMouseTranslator& Translator, double Feature1, double Feature2) {
    TMouseAction action;
    for (int i = 0; i < 3; ++i) {
      Translator.AddTrackerResult({60, 80}, {60, 40, 100, 80}, 0, Feature1, Feature2, 0, 0);
      Translator.Translate(true, action);
    }
    return action.Action;
  };
  const auto chord = [](std::vector<int> Keys) {
    std::vector<TInputEvent> events;
    for (const int k : Keys) {
      events.push_back({EV_KEY, static_cast<unsigned>(k), 1});
      events.push_back(Syn);
    }
    for (auto k = Keys.rbegin(); k != Keys.rend(); ++k) {
      events.push_back({EV_KEY, static_cast<unsigned>(*k), 0});
      events.push_back(Syn);
    }
    return events;
  };
  {
    TUinputDesktop gnome(TDesktopFamily::Gnome, Pointer.WriteEnd(), Keyboard.WriteEnd());
    TMouseTranslator translator(5, 160, 120, &gnome);
    ASSERT_EQ(pose(translator, 69408.69565217392, 5.795217391304349), maMinimize);
    Expect(Keyboard, TUinputDevice::Keyboard, chord({KEY_LEFTMETA, KEY_H}));
    ASSERT_EQ(pose(translator, 85368.0, 23.774), maNextWindow);
    Expect(Keyboard, TUinputDevice::Keyboard, chord({KEY_LEFTALT, KEY_ESC}));
  }
  {
    TUinputDesktop kde(TDesktopFamily::Kde, Pointer.WriteEnd(), Keyboard.WriteEnd());
    TMouseTranslator translator(5, 160, 120, &kde);
    pose(translator, 69408.69565217392, 5.795217391304349);
    Expect(Keyboard, TUinputDevice::Keyboard, chord({KEY_LEFTMETA, KEY_PAGEDOWN}));
  }
  {
    TUinputDesktop other(TDesktopFamily::Other, Pointer.WriteEnd(), Keyboard.WriteEnd());
    TMouseTranslator translator(5, 160, 120, &other);
    pose(translator, 69408.69565217392, 5.795217391304349);
    EXPECT_TRUE(Keyboard.Read().empty()) << "no minimise shortcut to send";
    pose(translator, 85368.0, 23.774);
    Expect(Keyboard, TUinputDevice::Keyboard, chord({KEY_LEFTALT, KEY_TAB}));
    EXPECT_EQ(other.ActiveWindow(), 0u);
  }
}

TEST(UinputDevice, CreatesBothDevicesWhereUinputIsWritable) {
  if (::access("/dev/uinput", W_OK) != 0) {
    const int error = errno;
    try {
      TUinputDesktop desktop(TDesktopFamily::Other);
      ADD_FAILURE() << "made devices without a writable /dev/uinput";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("/dev/uinput: ", 0), 0u) << e.what();
    }
    GTEST_SKIP() << "/dev/uinput is not writable here (" << std::strerror(error)
                 << "): the device test needs it";
  }
  TUinputDesktop desktop(TDesktopFamily::Other);
  std::ifstream devices("/proc/bus/input/devices");
  std::stringstream text;
  text << devices.rdbuf();
  EXPECT_NE(text.str().find("Name=\"Pavrel pointer\""), std::string::npos);
  EXPECT_NE(text.str().find("Name=\"Pavrel keyboard\""), std::string::npos);
  desktop.MovePointer(32768, 32768);
  desktop.LeftButtonDown();
  desktop.LeftButtonUp();
}

}  // namespace
}  // namespace pavrel
