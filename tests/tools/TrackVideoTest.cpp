// pavrel-track with video files and capture devices (fake devices, generated clips).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "TrackRun.h"
#include "VideoTestSupport.h"
#include "track/TrackOptions.h"

namespace pavrel::test {
namespace {

using json = nlohmann::json;

class TrackVideo : public ::testing::Test {
 protected:
  void SetUp() override { InstallFakeDevices(); }
  void TearDown() override { SetFakeDevices({}); }
};

TEST_F(TrackVideo, AFileGivesOneLinePerFrameNotPacedByTheClipRate) {
  // 45 frames at one frame a second: 45 s if the clip's rate were kept.
  const auto clip = std::filesystem::path(Clips().Moving()).replace_filename("slow.webm");
  RunPipeline(
      "videotestsrc num-buffers=45 pattern=ball ! "
      "video/x-raw,width=320,height=240,framerate=1/1 ! vp8enc deadline=1 ! webmmux ! "
      "filesink location=" +
      clip.string());
  const auto start = std::chrono::steady_clock::now();
  const TRun run = Track({clip.string()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 45u);
  for (std::size_t i = 0; i < run.Lines.size(); ++i) {
    const json line = json::parse(run.Lines[i]);
    EXPECT_EQ(line["frame"], i + 1);
    EXPECT_TRUE(line.contains("centre")) << run.Lines[i];
  }
  // Frames are 160 x 120: the home rectangle of the first frame bounds the first search.
  EXPECT_LE(json::parse(run.Lines[0])["centre"][0].get<double>(), 120);
  EXPECT_EQ(run.Err, "");  // not a terminal: no progress line

  // --frames bounds a file too, and files follow each other.
  const TRun two = Track({"--frames", "50", clip.string(), Clips().Moving().string()});
  EXPECT_EQ(two.Status, 0);
  EXPECT_EQ(two.Lines.size(), 50u);
}

TEST_F(TrackVideo, ADeviceRunsUntilFramesIsReached) {
  SetFakeDevices({CameraRaw(), CameraRefusing()});
  const TRun run = Track({"--frames", "5", "device:0"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 5u);
  EXPECT_EQ(json::parse(run.Lines[4])["frame"], 5);
  EXPECT_EQ(run.Err, "");
  // A capture-format complaint is a warning; the device still runs.
  const TRun refusing = Track({"--frames", "3", "device:1"});
  EXPECT_EQ(refusing.Status, 0);
  EXPECT_EQ(refusing.Lines.size(), 3u);
  EXPECT_NE(refusing.Err.find("($80004005)."), std::string::npos) << refusing.Err;
}

TEST_F(TrackVideo, ListDevicesPrintsIndexAndName) {
  SetFakeDevices({CameraRaw(), CameraJpeg()});
  const TRun run = Track({"--list-devices"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"0: Fake Camera Raw", "1: Fake Camera JPEG"}));
  SetFakeDevices({});
  EXPECT_TRUE(Track({"--list-devices"}).Lines.empty());
}

TEST_F(TrackVideo, BadVideoSourcesAreUsageErrors) {
  SetFakeDevices({CameraRaw()});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"device:1"}, "no capture device 1"},
      {{"device:"}, "device:N"},
      {{"device:-1"}, "device:N"},
      {{"device:0x"}, "device:N"},
      {{Clips().TextFile().string()}, "($8004a002)."},
      {{Clips().AudioOnly().string()}, "($8004a003)."},
      {{Clips().Missing().string()}, "no such file"},
  };
  for (const auto& [arguments, message] : cases) {
    SCOPED_TRACE(arguments[0]);
    const TRun run = Track(arguments);
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Lines.empty());
    EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
  }
}

}  // namespace
}  // namespace pavrel::test
