// pavrel-track with the learned palm detector: --detector and --calibrate on the repo's clips.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TrackRun.h"

namespace pavrel::test {
namespace {

using json = nlohmann::json;

// The run's lines as JSON.
std::vector<json> Lines(const TRun& Run) {
  std::vector<json> out;
  for (const std::string& line : Run.Lines)
    out.push_back(json::parse(line));
  return out;
}

std::string Clip(const std::string& Name) {
  return (std::filesystem::path(std::getenv("PAVREL_MEDIA_DIR")) / Name).string();
}

TEST(TrackDetector, OffByDefaultAndOnlyOffOrOn) {
  const TRun plain = Track({"--frames", "3", Clip("asl_hand.mp4")});
  const TRun off = Track({"--detector=off", "--frames", "3", Clip("asl_hand.mp4")});
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  ASSERT_EQ(off.Status, 0) << off.Err;
  EXPECT_EQ(plain.Lines, off.Lines);
  for (const json& line : Lines(plain))
    EXPECT_FALSE(line.contains("confirmed"));
  EXPECT_EQ(Track({"--detector=maybe", Clip("asl_hand.mp4")}).Status, 2);
  EXPECT_EQ(Track({"--calibrate=-1", Clip("asl_hand.mp4")}).Status, 2);
  EXPECT_EQ(Track({"--calibrate=x", Clip("asl_hand.mp4")}).Status, 2);
}

TEST(TrackDetector, NoHandNoActionAndAHandConfirmed) {
  // The office clip's first frames: a face and a body, the hands hanging out of view.
  const TRun office = Track({"--detector=on", "--frames", "2", Clip("asl_sign_face_office.mp4")});
  ASSERT_EQ(office.Status, 0) << office.Err;
  for (const json& line : Lines(office)) {
    EXPECT_EQ(line["confirmed"], false) << line;
    EXPECT_EQ(line["code"], 0) << line;
  }
  const TRun hand = Track({"--detector=on", "--frames", "10", Clip("asl_hand.mp4")});
  ASSERT_EQ(hand.Status, 0) << hand.Err;
  ASSERT_EQ(hand.Lines.size(), 10u);
  for (const json& line : Lines(hand))
    EXPECT_EQ(line["confirmed"], true) << line;
}

TEST(TrackDetector, CalibratesOnTheDetectedPalm) {
  // Frame 1 (from 0) of the cubicle clip: the detector's palm is the calibration click.
  const TRun run = Track({"--calibrate=1", "--frames", "20", Clip("hand_gestures_cubicle.mp4")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 20u);
  std::ifstream in(std::filesystem::path(std::getenv("PAVREL_MEDIA_DIR")) /
                   "hand_gestures_cubicle.truth.json");
  const json truth = json::parse(in);
  const double sx = 160.0 / truth["width"].get<double>(),
               sy = 120.0 / truth["height"].get<double>();
  int inside = 0;
  for (const json& line : Lines(run)) {
    ASSERT_TRUE(line.contains("hand")) << line;  // the learned model tracks
    const auto box = truth["truth"][line["frame"].get<int>() - 1]["hands"][0]["bbox"];
    const double row = line["hand"][0].get<double>(), column = line["hand"][1].get<double>();
    inside += column >= box[0].get<double>() * sx && column <= box[2].get<double>() * sx &&
              row >= box[1].get<double>() * sy && row <= box[3].get<double>() * sy;
  }
  EXPECT_GE(inside, 18) << "the followed point lies on the hand";
}

TEST(TrackDetector, CalibrationWithoutAHandSaysSo) {
  const TRun run = Track({"--calibrate=6", "--frames", "7", Clip("asl_sign_face_office.mp4")});
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Lines.empty());
  EXPECT_NE(run.Err.find("no hand found on frame 6"), std::string::npos) << run.Err;
}

}  // namespace
}  // namespace pavrel::test
