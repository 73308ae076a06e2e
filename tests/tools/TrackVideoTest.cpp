// pavrel-track with video files and capture devices (fake devices, generated clips).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
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

// Three seconds of a moving ball, to be encoded and cut.
constexpr const char* CutClipFrames =
    "videotestsrc num-buffers=90 pattern=ball animation-mode=frames ! "
    "video/x-raw,width=320,height=240,framerate=30/1 ! ";

// A clip cut off after 60 % of its bytes, in each container a clip is likely to come in: the
// frames before the cut, then an error line and a word on stderr, and status 1.
TEST_F(TrackVideo, ACutOffClipReportsItsFramesThenTheErrorWithStatusOne) {
  const std::filesystem::path folder = std::filesystem::path(Clips().Moving()).parent_path();
  const std::string frames = CutClipFrames;
  const std::vector<std::pair<std::string, std::string>> containers = {
      {"cut.avi", "jpegenc ! avimux"},
      {"cut.mp4", "jpegenc ! qtmux faststart=true"},
      {"cut.webm", "vp8enc deadline=1 ! webmmux"},
  };
  for (const auto& [name, encoder] : containers) {
    SCOPED_TRACE(name);
    const std::filesystem::path clip = folder / name;
    RunPipeline(frames + encoder + " ! filesink location=" + clip.string());
    const TRun whole = Track({clip.string()});
    EXPECT_EQ(whole.Status, 0) << whole.Err;
    EXPECT_EQ(whole.Lines.size(), 90u);

    std::filesystem::resize_file(clip, std::filesystem::file_size(clip) * 6 / 10);
    const TRun cut = Track({clip.string()});
    EXPECT_EQ(cut.Status, 1) << cut.Err;
    ASSERT_GE(cut.Lines.size(), 2u);
    EXPECT_LT(cut.Lines.size(), 90u);
    for (std::size_t i = 0; i + 1 < cut.Lines.size(); ++i) {
      EXPECT_TRUE(json::parse(cut.Lines[i]).contains("centre")) << cut.Lines[i];
    }
    const json last = json::parse(cut.Lines.back());
    EXPECT_EQ(last["frame"], cut.Lines.size());
    EXPECT_TRUE(last.contains("error")) << cut.Lines.back();
    EXPECT_NE(cut.Err.find(clip.string() + " ended in an error after " +
                           std::to_string(cut.Lines.size() - 1) + " frames"),
              std::string::npos)
        << cut.Err;
  }
}

TEST_F(TrackVideo, ACutOffMp4WithItsIndexLastCannotBePlayed) {
  const std::filesystem::path folder = std::filesystem::path(Clips().Moving()).parent_path();
  const std::string frames = CutClipFrames;
  // An MP4 written with its index last loses the index with its end: nothing can be played.
  const std::filesystem::path indexLast = folder / "index-last.mp4";
  RunPipeline(frames + "jpegenc ! qtmux ! filesink location=" + indexLast.string());
  std::filesystem::resize_file(indexLast, std::filesystem::file_size(indexLast) * 6 / 10);
  const TRun unplayable = Track({indexLast.string()});
  EXPECT_EQ(unplayable.Status, 2);
  EXPECT_TRUE(unplayable.Lines.empty());
  EXPECT_NE(unplayable.Err.find("cannot play " + indexLast.string()), std::string::npos)
      << unplayable.Err;
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
