// pavrel-track --calibrate on the repository's real clip: the learned model must keep the
// hand point on the hand (a floor well below what the footage benchmark measures, so that
// a broken model fails and a slower machine does not), and every line reports "lost" and
// "hand".

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TrackRun.h"

namespace pavrel::test {
namespace {

using json = nlohmann::json;

std::filesystem::path Media() {
  const char* dir = std::getenv("PAVREL_MEDIA_DIR");
  return dir ? dir : "media";
}

// The run's lines, parsed.
std::vector<json> Parsed(const TRun& Run) {
  std::vector<json> lines;
  for (const std::string& line : Run.Lines) {
    lines.push_back(json::parse(line));
  }
  return lines;
}

json Truth(const std::string& Clip) {
  std::ifstream in(Media() / (Clip + ".truth.json"));
  if (!in) {
    throw std::runtime_error("no truth for " + Clip);
  }
  return json::parse(in);
}

// Frames whose followed point is found (and confirmed, with the detector) and lies on the
// truth's hand box (grown by 15 % on
// each side), of the frames that show a hand.
struct THits {
  int Hits = 0, Frames = 0;
};
THits Hits(const TRun& Run, const json& Truth) {
  const double width = Truth["width"], height = Truth["height"];
  const std::vector<json> lines = Parsed(Run);
  EXPECT_EQ(lines.size(), Truth["truth"].size());
  THits out;
  for (const json& entry : Truth["truth"]) {
    const std::size_t frame = entry["frame"].get<std::size_t>();
    if (frame >= lines.size()) {
      break;
    }
    const json& line = lines[frame];
    EXPECT_TRUE(line.contains("lost") && line.contains("hand")) << line;
    if (entry["hands"].empty() || !line.contains("hand")) {
      continue;
    }
    ++out.Frames;
    const json& box = entry["hands"][0]["bbox"];
    const double left = box[0], top = box[1], right = box[2], bottom = box[3];
    const double gx = 0.15 * (right - left), gy = 0.15 * (bottom - top);
    const double hx = (line["hand"][1].get<double>() + 0.5) * width / 160;
    const double hy = (line["hand"][0].get<double>() + 0.5) * height / 120;
    out.Hits += !line["lost"].get<bool>() && line.value("confirmed", true) && hx >= left - gx &&
                hx <= right + gx && hy >= top - gy && hy <= bottom + gy;
  }
  return out;
}

// The click at the palm of frame 0 (the wrist and the four knuckles' mean), in the 160 x 120
// picture, as --calibrate takes it.
std::string ClickOnFirstPalm(const json& Truth) {
  const json& first = Truth["truth"][0]["hands"][0]["landmarks"];
  double x = 0, y = 0;
  for (int i : {0, 5, 9, 13, 17}) {
    x += first[static_cast<std::size_t>(i)][0].get<double>() / 5;
    y += first[static_cast<std::size_t>(i)][1].get<double>() / 5;
  }
  return "0:" + std::to_string(static_cast<int>(x * 160 / Truth["width"].get<double>())) + "," +
         std::to_string(static_cast<int>(y * 120 / Truth["height"].get<double>()));
}

TEST(TrackCalibrate, TheLearnedModelKeepsTheHandPointOnTheHandOfTheRealClip) {
  const json truth = Truth("asl_hand");
  const TRun run =
      Track({"--calibrate=" + ClickOnFirstPalm(truth), (Media() / "asl_hand.mp4").string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const THits hits = Hits(run, truth);
  EXPECT_GE(hits.Hits, 0.8 * hits.Frames)
      << hits.Hits << " of " << hits.Frames << " frames on the hand";
}

TEST(TrackCalibrate, ThePalmTheDetectorFindsCalibratesAsWellAsAClick) {
  // Tracked with the detector, where the colour model alone decides what the window holds.
  for (const std::string name : {"asl_hand", "hand_gestures_cubicle"}) {
    const json truth = Truth(name);
    const std::string clip = (Media() / (name + ".mp4")).string();
    const TRun click = Track({"--detector=on", "--calibrate=" + ClickOnFirstPalm(truth), clip});
    const TRun detected = Track({"--detector=on", "--calibrate=0", clip});
    ASSERT_EQ(click.Status, 0) << click.Err;
    ASSERT_EQ(detected.Status, 0) << detected.Err;
    const THits byClick = Hits(click, truth), byDetector = Hits(detected, truth);
    EXPECT_GE(byDetector.Hits, byClick.Hits)
        << name << ": " << byDetector.Hits << " of " << byDetector.Frames
        << " frames on the hand, a click " << byClick.Hits;
  }
}

TEST(TrackCalibrate, HandFieldsOnRequestAndBadCalibrationsAreUsageErrors) {
  const std::string clip = (Media() / "asl_hand.mp4").string();
  const TRun seed = Track({"--hand-fields", "--frames", "3", clip});
  ASSERT_EQ(seed.Status, 0) << seed.Err;
  ASSERT_EQ(seed.Lines.size(), 3u);
  for (const json& line : Parsed(seed)) {
    // The seed's model: the hand is the centre.
    EXPECT_EQ(line["hand"], line["centre"]) << line;
    EXPECT_TRUE(line["lost"].is_boolean());
  }
  for (const char* bad : {"--calibrate=x", "--calibrate=1:2", "--calibrate=-1:2,3",
                          "--calibrate=0:160,10", "--calibrate=99999:1,1"}) {
    const TRun run = Track({std::string(bad), clip});
    EXPECT_EQ(run.Status, 2) << bad;
    EXPECT_TRUE(run.Lines.empty()) << bad;
    EXPECT_NE(run.Err.find("--calibrate"), std::string::npos) << bad << ": " << run.Err;
  }
}

}  // namespace
}  // namespace pavrel::test
