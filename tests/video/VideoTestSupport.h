#pragma once

// Shared by the video tests: standard fake devices, clips, a frame probe and polling.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "FakeDevices.h"
#include "TestClips.h"
#include "image/Bitmap.h"
#include "video/VideoSource.h"

namespace pavrel::test {

// Live cameras: a plain YUY2 one (red), a JPEG one (blue), one that claims any size but only
// captures 640 x 480 (green), one that offers only VP8, one that fails after 15 frames.
TFakeDevice CameraRaw();
TFakeDevice CameraJpeg();
TFakeDevice CameraRefusing();
TFakeDevice CameraJpegFixed();  // claims any size but its stream refuses anything but 640 x 480
TFakeDevice CameraVp8();
TFakeDevice CameraUnplugged();

// The clips of the whole test run.
TTestClips& Clips();

// Counts OnBuffer calls and checks them.
struct TFrameProbe {
  explicit TFrameProbe(TVideoSource& Video);
  std::atomic<int> Count{0};
  std::atomic<int> InFlight{0};
  std::atomic<int> MaxInFlight{0};
  std::atomic<int> WrongLength{0};
};

bool WaitUntil(const std::function<bool()>& Condition,
               std::chrono::milliseconds Timeout = std::chrono::seconds(10));

struct TColour {
  double Blue = 0, Green = 0, Red = 0;
};
TColour MeanColour(const TBitmap& Bitmap);

// Process CPU time (user + system) in seconds.
double ProcessCpuSeconds();

}  // namespace pavrel::test
