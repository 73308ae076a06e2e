// pavrel-track with the learned palm detector: --detector and --calibrate on the repo's clips.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "track/TrackOptions.h"

namespace pavrel::test {
namespace {

using json = nlohmann::json;

struct TRun {
  int Status = -1;
  std::vector<json> Lines;
  std::string Err;
};

TRun Track(const std::vector<std::string>& Arguments) {
  std::ostringstream out, err;
  TRun run;
  run.Status = track::TrackMain(Arguments, out, err);
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    run.Lines.push_back(json::parse(line));
  }
  run.Err = err.str();
  return run;
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
  for (const json& line : plain.Lines)
    EXPECT_FALSE(line.contains("hand"));
  EXPECT_EQ(Track({"--detector=maybe", Clip("asl_hand.mp4")}).Status, 2);
  EXPECT_EQ(Track({"--calibrate=0", Clip("asl_hand.mp4")}).Status, 2);
  EXPECT_EQ(Track({"--calibrate=x", Clip("asl_hand.mp4")}).Status, 2);
}

TEST(TrackDetector, NoHandNoActionAndAHandConfirmed) {
  // The office clip's first frames: a face and a body, the hands hanging out of view.
  const TRun office = Track({"--detector=on", "--frames", "2", Clip("asl_sign_face_office.mp4")});
  ASSERT_EQ(office.Status, 0) << office.Err;
  for (const json& line : office.Lines) {
    EXPECT_EQ(line["hand"], false) << line;
    EXPECT_EQ(line["code"], 0) << line;
  }
  const TRun hand = Track({"--detector=on", "--frames", "10", Clip("asl_hand.mp4")});
  ASSERT_EQ(hand.Status, 0) << hand.Err;
  ASSERT_EQ(hand.Lines.size(), 10u);
  for (const json& line : hand.Lines)
    EXPECT_EQ(line["hand"], true) << line;
}

TEST(TrackDetector, CalibratesOnTheDetectedPalm) {
  const TRun run = Track({"--calibrate=2", "--frames", "3", Clip("hand_gestures_cubicle.mp4")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 3u);
  EXPECT_FALSE(run.Lines[0].contains("calibration"));
  const json& c = run.Lines[1]["calibration"];
  ASSERT_TRUE(c.contains("palm")) << c;
  EXPECT_GT(c["score"].get<double>(), 0.6);
  // The palm lies inside the hand of the clip's truth for that frame (columns 77 to 113).
  const auto palm = c["palm"].get<std::vector<double>>();
  EXPECT_GT((palm[0] + palm[2]) / 2, 70);
  EXPECT_LT((palm[0] + palm[2]) / 2, 110);
  EXPECT_LE(c["LHueBound"].get<int>(), c["HHueBound"].get<int>());
}

TEST(TrackDetector, CalibrationWithoutAHandSaysSo) {
  const TRun run = Track({"--calibrate=6", "--frames", "7", Clip("asl_sign_face_office.mp4")});
  EXPECT_EQ(run.Status, 1);
  ASSERT_EQ(run.Lines.size(), 7u);
  EXPECT_EQ(run.Lines[5]["calibration"]["error"], "no hand found on this frame");
  const TRun late = Track({"--calibrate=500", "--frames", "2", Clip("asl_hand.mp4")});
  EXPECT_EQ(late.Status, 1);
  EXPECT_NE(late.Err.find("only 2 frames"), std::string::npos) << late.Err;
}

}  // namespace
}  // namespace pavrel::test
