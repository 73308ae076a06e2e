// Video files, replacing and stopping sources, and the end of a stream.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "VideoTestSupport.h"
#include "video/FilterGraph.h"

namespace pavrel::test {
namespace {

using namespace std::chrono_literals;

struct TCentre {
  double X = 0, Y = 0;
  int Pixels = 0;
};

// Centre of the skin-coloured ball (R 0xe0, G 0xac, B 0x69 in the clips).
TCentre SkinCentre(const TBitmap& Bitmap) {
  TCentre c;
  for (int y = 0; y < Bitmap.Height(); ++y) {
    const TRGBTriple* row = Bitmap.Row24(y);
    for (int x = 0; x < Bitmap.Width(); ++x) {
      if (std::abs(row[x].rgbtRed - 0xe0) < 40 && std::abs(row[x].rgbtGreen - 0xac) < 40 &&
          std::abs(row[x].rgbtBlue - 0x69) < 40) {
        c.X += x;
        c.Y += y;
        ++c.Pixels;
      }
    }
  }
  if (c.Pixels) {
    c.X /= c.Pixels;
    c.Y /= c.Pixels;
  }
  return c;
}

// True when no pixel of the column is black (scaled to fill, not letter-boxed).
bool ColumnLit(const TBitmap& Bitmap, int X) {
  for (int y = 0; y < Bitmap.Height(); ++y) {
    const TRGBTriple& p = Bitmap.Row24(y)[X];
    if (p.rgbtRed + p.rgbtGreen + p.rgbtBlue < 60) {
      return false;
    }
  }
  return true;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeDevices();
    SetFakeDevices({CameraRaw()});
  }
  void TearDown() override { SetFakeDevices({}); }

  // Plays the file to its end with every frame delivered; keeps the first and last frames.
  int PlayAll(TVideoSource& Video, const std::filesystem::path& File) {
    std::atomic<int> count{0};
    FirstTime = LastTime = -1;
    Video.SampleGrabber().SetOnBuffer(
        [&](TSampleGrabber& Grabber, double SampleTime, const std::uint8_t*, int BufferLen) {
          EXPECT_EQ(BufferLen, 160 * 120 * 3);
          EXPECT_GT(SampleTime, LastTime);  // stream time, rising frame by frame
          if (count++ == 0) {
            Grabber.CopyCurrentFrame(First);
            FirstTime = SampleTime;
          }
          Grabber.CopyCurrentFrame(Last);
          LastTime = SampleTime;
        });
    Video.SetRealTime(false);
    Video.PlayFile(File.string());
    EXPECT_TRUE(Video.WaitForEnd(60s)) << File;
    EXPECT_EQ(Video.FilterGraph().StreamError(), "") << File;
    Video.SampleGrabber().SetOnBuffer(nullptr);
    return count;
  }

  // The status of the error the file raises, checking the message's form.
  std::optional<std::uint32_t> PlayError(TVideoSource& Video, const std::filesystem::path& File) {
    try {
      Video.PlayFile(File.string());
    } catch (const EDirectShowException& e) {
      const std::string what = e.what();
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, " ($%x).", static_cast<unsigned>(e.Status()));
      EXPECT_TRUE(what.ends_with(suffix)) << what;
      EXPECT_GT(what.size(), std::string(suffix).size() + 3) << "no error text: " << what;
      return e.Status();
    }
    return std::nullopt;
  }

  TBitmap First, Last;
  double FirstTime = -1, LastTime = -1;
};

TEST_F(Files, EveryClipKindGivesEvery160x120BgrFrameScaledToFill) {
  struct TCase {
    std::filesystem::path File;
    int Width, Height;
  };
  for (const TCase& c : {TCase{Clips().Moving(), 320, 240}, TCase{Clips().Vga(), 640, 480},
                         TCase{Clips().Portrait(), 240, 320}}) {
    SCOPED_TRACE(c.File.string());
    TVideoSource video;
    EXPECT_EQ(PlayAll(video, c.File), TTestClips::Frames);
    // 30 frames a second from 0: the last of 45 frames starts at 44/30 s.
    EXPECT_NEAR(FirstTime, 0.0, 0.001);
    EXPECT_NEAR(LastTime, 44.0 / 30.0, 0.001);
    for (const TBitmap* frame : {&First, &Last}) {
      EXPECT_EQ(frame->Width(), 160);
      EXPECT_EQ(frame->Height(), 120);
      EXPECT_EQ(frame->PixelFormat(), TPixelFormat::pf24bit);
      // Whole picture, no borders: the wall reaches every edge.
      EXPECT_TRUE(ColumnLit(*frame, 0));
      EXPECT_TRUE(ColumnLit(*frame, 159));
    }
    // The skin-coloured ball is there and moves.
    const TCentre a = SkinCentre(First), b = SkinCentre(Last);
    EXPECT_GT(a.Pixels, 20);
    EXPECT_GT(b.Pixels, 20);
    EXPECT_GT(std::hypot(a.X - b.X, a.Y - b.Y), 5.0);
    // The preview keeps the clip's own size.
    auto preview = video.VideoWindow().CurrentFrame();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->Width(), c.Width);
    EXPECT_EQ(preview->Height(), c.Height);
  }
}

TEST_F(Files, TruncatedClipGivesTheFramesItHas) {
  TVideoSource video;
  const int frames = PlayAll(video, Clips().Truncated());
  EXPECT_GT(frames, 5);
  EXPECT_LT(frames, TTestClips::Frames);
  EXPECT_EQ(Last.Width(), 160);
}

TEST_F(Files, UnplayableFilesRaiseTheirKindAndStartNothing) {
  TVideoSource video;
  EXPECT_EQ(PlayError(video, Clips().TextFile()), VS_E_UNSUPPORTED);
  EXPECT_EQ(PlayError(video, Clips().Missing()), VS_E_NOT_FOUND);
  EXPECT_EQ(PlayError(video, Clips().AudioOnly()), VS_E_NO_VIDEO);
  EXPECT_EQ(PlayError(video, std::filesystem::temp_directory_path()), VS_E_NOT_FOUND);
  EXPECT_FALSE(video.Active());
}

TEST_F(Files, AFailedFileLeavesTheRunningDeviceAlone) {
  TVideoSource video;
  TFrameProbe probe(video);
  video.SelectDevice(0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 2; }));
  for (const auto& bad : {Clips().TextFile(), Clips().AudioOnly(), Clips().Missing()}) {
    EXPECT_TRUE(PlayError(video, bad).has_value()) << bad;
    EXPECT_TRUE(video.Active());
    const int before = probe.Count;
    ASSERT_TRUE(WaitUntil([&] { return probe.Count >= before + 3; })) << "device stopped";
    TBitmap frame;
    ASSERT_TRUE(video.SampleGrabber().CopyCurrentFrame(frame));
    EXPECT_GT(MeanColour(frame).Red, 200);  // still the red camera
  }
}

TEST_F(Files, AFileChosenWhileADeviceRunsReplacesIt) {
  TVideoSource video;
  TFrameProbe probe(video);
  video.SelectDevice(0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 2; }));
  video.PlayFile(Clips().Vga().string());
  ASSERT_TRUE(WaitUntil([&] {
    TBitmap frame;
    return video.SampleGrabber().CopyCurrentFrame(frame) && SkinCentre(frame).Pixels > 20;
  }));
  TBitmap frame;
  ASSERT_TRUE(video.SampleGrabber().CopyCurrentFrame(frame));
  EXPECT_LT(MeanColour(frame).Red, 200);  // the blue wall, not the red camera
  EXPECT_EQ(video.FilterGraph().CaptureFormat(), "");
  video.StopVideo();
}

TEST_F(Files, EndOfStreamStopsTheFramesAndNothingElse) {
  TVideoSource video;  // real time: the clip plays at its own 30 frames a second
  TFrameProbe probe(video);
  video.PlayFile(Clips().Moving().string());
  ASSERT_TRUE(video.WaitForEnd(20s));
  EXPECT_EQ(video.FilterGraph().StreamError(), "");
  const int count = probe.Count;
  EXPECT_GT(count, 10);
  const double cpu = ProcessCpuSeconds();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(probe.Count, count);
  EXPECT_LT(ProcessCpuSeconds() - cpu, 0.25) << "busy after the end of the stream";
  EXPECT_TRUE(video.Active());  // no rewind, no stop
  TBitmap frame;
  EXPECT_TRUE(video.SampleGrabber().CopyCurrentFrame(frame));  // the last frame stays
}

TEST_F(Files, StoppingTwiceIsHarmlessAndDropsTheFrames) {
  TVideoSource video;
  TFrameProbe probe(video);
  video.StopVideo();  // nothing running
  video.SelectDevice(0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 2 && video.VideoWindow().CurrentFrame(); }));
  video.StopVideo();
  video.StopVideo();
  EXPECT_FALSE(video.Active());
  TBitmap frame(7, 5);
  EXPECT_FALSE(video.SampleGrabber().CopyCurrentFrame(frame));
  EXPECT_EQ(frame.Width(), 7);  // left alone
  EXPECT_FALSE(video.VideoWindow().CurrentFrame());
  video.Close();
  video.Close();
  // And it starts again.
  video.SelectDevice(0);
  const int count = probe.Count;
  ASSERT_TRUE(WaitUntil([&] { return probe.Count >= count + 2; }));
}

TEST_F(Files, StoppingWhileAFrameIsHandledWaitsForItAndNoneFollows) {
  TVideoSource video;
  std::atomic<int> entered{0}, left{0}, inside{0};
  std::atomic<bool> stopping{false};
  video.SampleGrabber().SetOnBuffer([&](TSampleGrabber&, double, const std::uint8_t*, int) {
    ++inside;
    ++entered;
    // Barrier: hold the first frame until the UI thread is about to stop, and a little
    // longer, so that the stop meets a frame in progress.
    if (WaitUntil([&] { return stopping.load(); }, 5s)) {
      std::this_thread::sleep_for(50ms);
    }
    --inside;
    ++left;
  });
  video.SelectDevice(0);
  ASSERT_TRUE(WaitUntil([&] { return entered >= 1; }));
  stopping = true;
  video.StopVideo();
  EXPECT_EQ(inside, 0);
  EXPECT_EQ(entered, left);
  const int count = entered;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(entered, count);
}

TEST_F(Files, SharedHandClipDecodesEveryFrame) {
  const char* dir = std::getenv("PAVREL_MEDIA_DIR");
  const auto clip = std::filesystem::path(dir ? dir : "") / "asl_hand.mp4";
  if (!dir || !std::filesystem::exists(clip)) {
    GTEST_SKIP() << "asl_hand.mp4 not found (PAVREL_MEDIA_DIR=" << (dir ? dir : "unset") << ")";
  }
  TVideoSource video;
  EXPECT_EQ(PlayAll(video, clip), 325);
  EXPECT_EQ(Last.Width(), 160);
  EXPECT_EQ(Last.Height(), 120);
  auto preview = video.VideoWindow().CurrentFrame();
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->Width(), 620);
  EXPECT_EQ(preview->Height(), 1080);
}

}  // namespace
}  // namespace pavrel::test
