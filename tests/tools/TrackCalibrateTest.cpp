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

TEST(TrackCalibrate, TheLearnedModelKeepsTheHandPointOnTheHandOfTheRealClip) {
  const std::filesystem::path clip = Media() / "asl_hand.mp4";
  std::ifstream truthFile(Media() / "asl_hand.truth.json");
  ASSERT_TRUE(truthFile) << "no truth for " << clip;
  const json truth = json::parse(truthFile);
  const double width = truth["width"], height = truth["height"];

  // The click at the palm of frame 0 (the wrist and the four knuckles' mean), in the
  // 160 x 120 picture.
  const json& first = truth["truth"][0]["hands"][0]["landmarks"];
  double x = 0, y = 0;
  for (int i : {0, 5, 9, 13, 17}) {
    x += first[static_cast<std::size_t>(i)][0].get<double>() / 5;
    y += first[static_cast<std::size_t>(i)][1].get<double>() / 5;
  }
  const std::string click = "0:" + std::to_string(static_cast<int>(x * 160 / width)) + "," +
                            std::to_string(static_cast<int>(y * 120 / height));
  const TRun run = Track({"--calibrate=" + click, clip.string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::vector<json> lines = Parsed(run);
  ASSERT_EQ(lines.size(), truth["truth"].size());

  int hits = 0, frames = 0;
  for (const json& entry : truth["truth"]) {
    const json& line = lines.at(entry["frame"].get<std::size_t>());
    ASSERT_TRUE(line.contains("lost") && line.contains("hand")) << line;
    if (entry["hands"].empty()) {
      continue;
    }
    ++frames;
    const json& box = entry["hands"][0]["bbox"];
    const double left = box[0], top = box[1], right = box[2], bottom = box[3];
    const double gx = 0.15 * (right - left), gy = 0.15 * (bottom - top);
    const double hx = (line["hand"][1].get<double>() + 0.5) * width / 160;
    const double hy = (line["hand"][0].get<double>() + 0.5) * height / 120;
    hits += !line["lost"].get<bool>() && hx >= left - gx && hx <= right + gx && hy >= top - gy &&
            hy <= bottom + gy;
  }
  EXPECT_GE(hits, 0.8 * frames) << hits << " of " << frames << " frames on the hand";
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
