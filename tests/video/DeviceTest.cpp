// Capture devices through the fake provider: listing, capture format, frame delivery.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "VideoTestSupport.h"
#include "video/FilterGraph.h"
#include "video/GstSupport.h"

namespace pavrel::test {
namespace {

using namespace std::chrono_literals;

class Devices : public ::testing::Test {
 protected:
  void SetUp() override { InstallFakeDevices(); }
  void TearDown() override { SetFakeDevices({}); }

  // Selects the device and collects the capture-format messages.
  void Select(TVideoSource& Video, int Index) {
    Video.SetOnCaptureFormatError(
        [this](const std::string& Message) { Messages.push_back(Message); });
    Video.SelectDevice(Index);
  }

  TBitmap Frame(TVideoSource& Video) {
    TBitmap bitmap;
    EXPECT_TRUE(Video.SampleGrabber().CopyCurrentFrame(bitmap));
    return bitmap;
  }

  std::vector<std::string> Messages;
};

TEST(CaptureRequest, TakesTheFirstRawOrJpegFormatAndOnlyChangesSizeAndRate) {
  EXPECT_EQ(CaptureRequestString("video/x-bayer, format=bggr, width=640, height=480; "
                                 "image/jpeg, width=1280, height=720, framerate=15/1; "
                                 "video/x-raw, format=YUY2, width=640, height=480",
                                 160, 120, 30),
            "image/jpeg, width=(int)160, height=(int)120, framerate=(fraction)30/1");
  // The pixel format stays, whatever it is; other fields stay too.
  EXPECT_EQ(CaptureRequestString("video/x-raw, format=NV12, width=[1,4096], height=[1,4096], "
                                 "pixel-aspect-ratio=1/1, framerate=[1/1,60/1]",
                                 160, 120, 30),
            "video/x-raw, format=(string)NV12, width=(int)160, height=(int)120, "
            "pixel-aspect-ratio=(fraction)1/1, framerate=(fraction)30/1");
  // Special memory needs other elements downstream: the next structure is taken.
  EXPECT_EQ(CaptureRequestString("video/x-raw(memory:DMABuf), format=NV12; "
                                 "video/x-raw, format=RGB",
                                 160, 120, 30),
            "video/x-raw, format=(string)RGB, width=(int)160, height=(int)120, "
            "framerate=(fraction)30/1");
}

TEST(CaptureRequest, NothingFitsWithoutRawOrJpeg) {
  EXPECT_EQ(
      CaptureRequestString("video/x-h264, stream-format=byte-stream; video/x-vp8", 160, 120, 30),
      "");
  EXPECT_EQ(CaptureRequestString("ANY", 160, 120, 30), "");
  EXPECT_EQ(CaptureRequestString("EMPTY", 160, 120, 30), "");
}

TEST(StatusMessage, TextThenStatusInHex) {
  EXPECT_STREQ(EDirectShowException("Resource not found.", VS_E_NOT_FOUND).what(),
               "Resource not found. ($8004a001).");
  EXPECT_EQ(FormatStatusMessage("Not implemented", E_NOTIMPL), "Not implemented ($80004001).");
  EXPECT_EQ(EDirectShowException("x", E_FAIL).Status(), E_FAIL);
}

TEST_F(Devices, NoDevicesGiveAnEmptyListAndSelectingNothingStillRuns) {
  SetFakeDevices({});
  TVideoSource video;
  EXPECT_EQ(video.DeviceEnumerator().DeviceCount(), 0);
  EXPECT_FALSE(video.DeviceEnumerator().DeviceMoniker(0).has_value());
  EXPECT_THROW(video.DeviceEnumerator().DeviceName(0), std::out_of_range);

  // A device index that names nothing: the format step fails, the empty graph runs.
  TFrameProbe probe(video);
  Select(video, 0);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_TRUE(Messages[0].ends_with("($80004005).")) << Messages[0];
  EXPECT_TRUE(video.Active());
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(probe.Count, 0);
  video.StopVideo();
  EXPECT_FALSE(video.Active());
}

TEST_F(Devices, TwoDevicesInOrderAndMonikersEnumerateAfresh) {
  SetFakeDevices({CameraRaw(), CameraJpeg()});
  TVideoSource video;
  TSysDevEnum& devices = video.DeviceEnumerator();
  ASSERT_EQ(devices.DeviceCount(), 2);
  EXPECT_EQ(devices.DeviceName(0), "Fake Camera Raw");
  EXPECT_EQ(devices.DeviceName(1), "Fake Camera JPEG");
  EXPECT_THROW(devices.DeviceName(2), std::out_of_range);
  EXPECT_THROW(devices.DeviceName(-1), std::out_of_range);
  ASSERT_TRUE(devices.DeviceMoniker(1).has_value());
  EXPECT_EQ(devices.DeviceMoniker(1)->DisplayName, "Fake Camera JPEG");
  EXPECT_FALSE(devices.DeviceMoniker(2).has_value());
  EXPECT_FALSE(devices.DeviceMoniker(-1).has_value());

  // The first camera is unplugged: the list stays, a fresh moniker shifts.
  SetFakeDevices({CameraJpeg()});
  EXPECT_EQ(devices.DeviceName(0), "Fake Camera Raw");
  EXPECT_EQ(devices.DeviceMoniker(0)->DisplayName, "Fake Camera JPEG");
  EXPECT_FALSE(devices.DeviceMoniker(1).has_value());
}

TEST_F(Devices, AcceptedFormatRuns160x120WithItsPixelFormat) {
  SetFakeDevices({CameraRaw(), CameraJpeg()});
  TVideoSource video;
  TFrameProbe probe(video);

  Select(video, 0);
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(video.FilterGraph().CaptureFormat(),
            "video/x-raw, format=(string)YUY2, width=(int)160, height=(int)120, "
            "framerate=(fraction)30/1");
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 3 && video.VideoWindow().CurrentFrame(); }));
  TBitmap frame = Frame(video);
  EXPECT_EQ(frame.Width(), 160);
  EXPECT_EQ(frame.Height(), 120);
  EXPECT_EQ(frame.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_GT(MeanColour(frame).Red, 200);
  EXPECT_LT(MeanColour(frame).Blue, 60);
  // The device itself captures at 160 x 120: the unscaled preview shows it.
  auto preview = video.VideoWindow().CurrentFrame();
  EXPECT_EQ(preview->Width(), 160);
  EXPECT_EQ(preview->Height(), 120);

  // A second device replaces the first; JPEG is decoded.
  Select(video, 1);
  EXPECT_TRUE(Messages.empty());
  EXPECT_TRUE(video.FilterGraph().CaptureFormat().starts_with("image/jpeg"));
  ASSERT_TRUE(WaitUntil([&] {
    TBitmap bitmap;
    return video.SampleGrabber().CopyCurrentFrame(bitmap) && MeanColour(bitmap).Blue > 200;
  }));
  EXPECT_EQ(probe.WrongLength, 0);
}

TEST_F(Devices, RefusedFormatIsReportedAndTheDeviceRunsAtItsOwn) {
  // One refuses when asked what it can capture, the other only when its stream starts.
  SetFakeDevices({CameraRefusing(), CameraJpegFixed()});
  for (int index : {0, 1}) {
    SCOPED_TRACE(index);
    Messages.clear();
    TVideoSource video;
    TFrameProbe probe(video);
    Select(video, index);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_NE(Messages[0].find(index == 0 ? "Fake Camera 640x480 cannot capture video/x-raw"
                                          : "Internal data stream error"),
              std::string::npos)
        << Messages[0];
    EXPECT_TRUE(Messages[0].ends_with("($80004005).")) << Messages[0];
    EXPECT_EQ(video.FilterGraph().CaptureFormat(), "");

    ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 3 && video.VideoWindow().CurrentFrame(); }));
    TBitmap frame = Frame(video);
    EXPECT_EQ(frame.Width(), 160);  // scaled down for the tracker
    EXPECT_EQ(frame.Height(), 120);
    EXPECT_GT(MeanColour(frame).Green, 180);
    auto preview = video.VideoWindow().CurrentFrame();
    EXPECT_EQ(preview->Width(), 640);
    EXPECT_EQ(preview->Height(), 480);
    EXPECT_EQ(probe.WrongLength, 0);
  }
}

TEST_F(Devices, NoFittingFormatIsNotImplementedAndVideoStillRuns) {
  SetFakeDevices({CameraVp8()});
  TVideoSource video;
  TFrameProbe probe(video);
  Select(video, 0);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Fake Camera VP8 offers no raw or JPEG video format ($80004001).");
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 3 && video.VideoWindow().CurrentFrame(); }));
  TBitmap frame = Frame(video);
  EXPECT_EQ(frame.Width(), 160);
  EXPECT_EQ(frame.Height(), 120);
  EXPECT_GT(MeanColour(frame).Red, 180);
  EXPECT_EQ(video.VideoWindow().CurrentFrame()->Width(), 320);
}

TEST_F(Devices, PreviewRowsSurviveOddWidths) {
  // 161 x 121 BGR: GStreamer pads each 483-byte row to 484. Vertical bars must stay straight.
  SetFakeDevices({{"Fake Camera Odd", "video/x-raw, format=BGR, width=161, height=121",
                   "videotestsrc is-live=true pattern=smpte ! "
                   "capsfilter caps=video/x-raw,format=BGR,width=161,height=121"}});
  TVideoSource video;
  Select(video, 0);
  ASSERT_TRUE(WaitUntil([&] { return video.VideoWindow().CurrentFrame() != nullptr; }));
  auto preview = video.VideoWindow().CurrentFrame();
  ASSERT_EQ(preview->Width(), 161);
  ASSERT_EQ(preview->Height(), 121);
  int distinct = 0;
  for (int x = 0; x < 161; ++x) {
    const TRGBTriple top = preview->Row24(0)[x];
    distinct += x > 0 && !(top == preview->Row24(0)[x - 1]);
    for (int y = 1; y < 60; ++y) {  // the bars fill the upper two thirds
      ASSERT_EQ(preview->Row24(y)[x], top) << "column " << x << " row " << y;
    }
  }
  EXPECT_GE(distinct, 6);  // the seven bars are there
}

TEST_F(Devices, AHeldPreviewFrameStaysAsItIsWhileNewerOnesArrive) {
  // Snow changes every pixel of every frame.
  SetFakeDevices({{"Fake Camera Snow", "video/x-raw, format=BGR, width=160, height=120",
                   "videotestsrc is-live=true pattern=snow ! "
                   "capsfilter caps=video/x-raw,format=BGR,width=160,height=120"}});
  TVideoSource video;
  Select(video, 0);
  TVideoWindow& window = video.VideoWindow();
  ASSERT_TRUE(WaitUntil([&] { return window.CurrentFrame() != nullptr; }));
  const auto held = window.CurrentFrame();
  const TBitmap copy = *held;
  // Later frames, some of them let go of at once as the painter does.
  std::shared_ptr<const TBitmap> later;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(WaitUntil([&] {
      later = window.CurrentFrame();
      return later != held && later != nullptr;
    }));
    later.reset();
  }
  ASSERT_TRUE(WaitUntil([&] { return (later = window.CurrentFrame()) != held; }));
  ASSERT_EQ(held->Width(), 160);
  for (int y = 0; y < 120; ++y) {
    ASSERT_EQ(std::memcmp(held->ScanLine(y), copy.ScanLine(y), 160 * 3), 0) << "row " << y;
  }
  EXPECT_EQ(later->Width(), 160);
  EXPECT_EQ(later->Height(), 120);
  int changed = 0;
  for (int y = 0; y < 120; ++y) {
    changed += std::memcmp(later->ScanLine(y), copy.ScanLine(y), 160 * 3) != 0;
  }
  EXPECT_GT(changed, 100);
}

TEST_F(Devices, LiveSourceDeliversAbout30FramesASecondOneAtATime) {
  SetFakeDevices({CameraRaw()});
  TVideoSource video;
  TFrameProbe probe(video);
  Select(video, 0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 1; }));
  const int first = probe.Count;
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(2s);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = (probe.Count - first) / seconds;
  // Wide enough for a loaded machine; a clock-less run would give hundreds.
  EXPECT_GT(rate, 18.0);
  EXPECT_LT(rate, 40.0);
  EXPECT_EQ(probe.MaxInFlight, 1);
}

TEST_F(Devices, UnpluggedDeviceJustStopsTheFrames) {
  SetFakeDevices({CameraUnplugged()});
  TVideoSource video;
  TFrameProbe probe(video);
  Select(video, 0);
  ASSERT_TRUE(video.WaitForEnd(10s));
  EXPECT_NE(video.FilterGraph().StreamError(), "");
  std::this_thread::sleep_for(200ms);  // frames still queued behind the failure
  const int count = probe.Count;
  EXPECT_LE(count, 15);
  const double cpu = ProcessCpuSeconds();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(probe.Count, count);
  EXPECT_LT(ProcessCpuSeconds() - cpu, 0.25) << "busy after the device went away";
  EXPECT_TRUE(video.Active());  // nothing is done about it
  video.StopVideo();
  EXPECT_FALSE(video.Active());
}

TEST_F(Devices, HandlerFailuresReachTheErrorCallbackAndFramesGoOn) {
  SetFakeDevices({CameraRaw()});
  TVideoSource video;
  std::atomic<int> calls{0};
  std::atomic<int> errors{0};
  std::string lastError;
  video.SampleGrabber().SetOnBuffer([&](TSampleGrabber&, double, const std::uint8_t*, int) {
    if (++calls % 2 == 1) {
      throw std::runtime_error("tracker failed");
    }
  });
  video.SampleGrabber().SetOnError([&](const std::string& Message) {
    lastError = Message;  // one call at a time: no race
    ++errors;
  });
  Select(video, 0);
  ASSERT_TRUE(WaitUntil([&] { return calls >= 6; }));
  video.StopVideo();
  EXPECT_EQ(errors, (calls + 1) / 2);
  EXPECT_EQ(lastError, "tracker failed");
}

}  // namespace
}  // namespace pavrel::test
