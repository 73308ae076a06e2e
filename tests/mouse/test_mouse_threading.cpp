#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel {
namespace {

// The main window releases the button from the UI thread while frames may still be handled
// on the streaming thread; the button state must stay consistent (ThreadSanitizer runs this).
TEST(TranslatorThreading, ReleaseButtonFromAnotherThreadWhileFramesRun) {
  TRecordingDesktop desktop;
  TMouseTranslator translator(5, 160, 120, &desktop);
  std::atomic<bool> done{false};

  std::thread frames([&] {
    const double down[2] = {76069.56521739131, 16.62173913043478};
    const double up[2] = {81585.0, 9.133};
    for (int i = 0; i < 3000; ++i) {
      const double* pose = (i / 3) % 2 == 0 ? down : up;
      translator.AddTrackerResult({60, 80}, {0, 0, 160, 120}, 0.0, pose[0], pose[1], 0, 0);
      TMouseAction action;
      translator.Translate(true, action);
    }
    done = true;
  });
  int releases = 0;
  while (!done) {
    translator.ReleaseButton();
    ++releases;
    std::this_thread::yield();
  }
  frames.join();
  translator.ReleaseButton();

  std::string lastButton;
  int presses = 0;
  for (const std::string& call : desktop.ActionsWithoutMoves()) {
    lastButton = call;
    presses += call == "LeftButtonDown()" ? 1 : 0;
  }
  EXPECT_EQ(presses, 500);
  EXPECT_EQ(lastButton, "LeftButtonUp()");
  EXPECT_GT(releases, 0);
}

}  // namespace
}  // namespace pavrel
