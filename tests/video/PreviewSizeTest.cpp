// The raw preview at the size it is shown at: scaled inside the video layer, the picture's
// aspect ratio kept with black bars, following size changes of the running video.

#include <gtest/gtest.h>

#include "VideoTestSupport.h"

namespace pavrel::test {
namespace {

// A 640 x 480 camera showing plain green: the black bars are easy to tell from the picture.
TFakeDevice GreenCamera() {
  return {"Fake Camera 4:3", "video/x-raw, format=(string)YUY2, width=(int)640, height=(int)480",
          "videotestsrc is-live=true pattern=green ! "
          "capsfilter caps=video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"};
}

bool IsBlack(const TRGBTriple& Pixel) {
  return Pixel.rgbtRed < 20 && Pixel.rgbtGreen < 20 && Pixel.rgbtBlue < 20;
}
bool IsGreen(const TRGBTriple& Pixel) {
  return Pixel.rgbtGreen > 180 && Pixel.rgbtRed < 60 && Pixel.rgbtBlue < 60;
}

class PreviewSize : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeDevices();
    SetFakeDevices({GreenCamera()});
  }
  void TearDown() override { SetFakeDevices({}); }

  // Waits for a preview frame of Width x Height; null when none came.
  std::shared_ptr<const TBitmap> FrameOfSize(TVideoWindow& Window, int Width, int Height) {
    std::shared_ptr<const TBitmap> frame;
    const bool came = WaitUntil([&] {
      frame = Window.CurrentFrame();
      return frame && frame->Width() == Width && frame->Height() == Height;
    });
    return came ? frame : nullptr;
  }

  // Columns of row Row that are picture (green), from the first to the last.
  static std::pair<int, int> GreenColumns(const TBitmap& Frame, int Row) {
    int first = -1, last = -1;
    for (int x = 0; x < Frame.Width(); ++x) {
      if (IsGreen(Frame.Row24(Row)[x])) {
        first = first < 0 ? x : first;
        last = x;
      }
    }
    return {first, last};
  }
};

TEST_F(PreviewSize, FramesComeAtTheDisplaySizeWithTheAspectRatioKept) {
  TVideoSource video;
  TVideoWindow& window = video.VideoWindow();
  // Set before the source starts: the first frames already have the size.
  window.SetDisplaySize(200, 100);
  video.SelectDevice(0);

  auto frame = FrameOfSize(window, 200, 100);
  ASSERT_TRUE(frame);
  // 4:3 in 200 x 100: a picture 133 wide in the middle, black bars left and right.
  const auto [first, last] = GreenColumns(*frame, 50);
  EXPECT_NEAR(first, 33, 2);
  EXPECT_NEAR(last, 166, 2);
  EXPECT_TRUE(IsBlack(frame->Row24(50)[0]));
  EXPECT_TRUE(IsBlack(frame->Row24(50)[199]));
  EXPECT_TRUE(IsGreen(frame->Row24(0)[100]));  // no bar above
  EXPECT_TRUE(IsGreen(frame->Row24(99)[100]));

  // A resize of the running video: a tall narrow view gets bars above and below.
  window.SetDisplaySize(80, 120);
  frame = FrameOfSize(window, 80, 120);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(IsBlack(frame->Row24(0)[40]));
  EXPECT_TRUE(IsBlack(frame->Row24(119)[40]));
  EXPECT_TRUE(IsGreen(frame->Row24(60)[0]));  // the picture spans the whole width
  EXPECT_TRUE(IsGreen(frame->Row24(60)[79]));
  int greenRows = 0;
  for (int y = 0; y < 120; ++y) {
    greenRows += IsGreen(frame->Row24(y)[40]) ? 1 : 0;
  }
  EXPECT_NEAR(greenRows, 60, 2);  // 80 wide at 4:3

  // Back to the source's own size.
  window.SetDisplaySize(0, 0);
  EXPECT_TRUE(FrameOfSize(window, 640, 480));
  video.StopVideo();
}

TEST_F(PreviewSize, TheSizeHoldsForTheNextSourceAndBadSizesMeanUnscaled) {
  TVideoSource video;
  TVideoWindow& window = video.VideoWindow();
  window.SetDisplaySize(160, 120);
  video.SelectDevice(0);
  ASSERT_TRUE(FrameOfSize(window, 160, 120));
  // The same video window plays a file next: still at the display size.
  video.PlayFile(Clips().Portrait().string());  // 240 x 320
  auto frame = FrameOfSize(window, 160, 120);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(IsBlack(frame->Row24(60)[0]));  // portrait in landscape: bars at the sides
  EXPECT_TRUE(IsBlack(frame->Row24(60)[159]));

  window.SetDisplaySize(-5, 100);  // a side of zero or less: unscaled
  EXPECT_TRUE(FrameOfSize(window, 240, 320));
  window.SetDisplaySize(100000, 30);  // clamped, never an allocation of that size
  EXPECT_TRUE(FrameOfSize(window, 4096, 30));
  video.StopVideo();
}

}  // namespace
}  // namespace pavrel::test
