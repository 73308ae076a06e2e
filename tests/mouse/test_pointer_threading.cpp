#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel {
namespace {

constexpr double Up1 = 81585.0, Up2 = 9.133;
const TRect HandWindow{40, 30, 80, 90};

// The pointer dialog changes the settings on the UI thread while frames run on the streaming
// thread (ThreadSanitizer runs this).
TEST(PointerSettingsThreading, SettingsChangeWhileFramesRun) {
  TRecordingDesktop desktop;
  TMouseTranslator translator(5, 160, 120, &desktop);
  std::atomic<bool> done{false};
  std::thread frames([&] {
    for (int i = 0; i < 3000; ++i) {
      translator.AddTrackerResult({60, 80 + i % 7}, HandWindow, 0.0, Up1, Up2, 0, 0);
      TMouseAction action;
      translator.Translate(true, action);
    }
    done = true;
  });
  TPointerSettings s;
  for (int i = 0; !done; ++i) {
    s.Filter = i % 2;
    s.DwellClick = i % 3 == 0;
    s.Monitor = i % 3 - 1;
    translator.SetPointerSettings(s);
    translator.SetMonitors({{0, 0, 800 + i % 5, 600}});
    std::this_thread::yield();
  }
  frames.join();
  EXPECT_FALSE(desktop.Actions().empty());
}

}  // namespace
}  // namespace pavrel
