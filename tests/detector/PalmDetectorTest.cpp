#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "detector/HandDetector.h"
#include "detector/PalmDecoding.h"
#include "image/BmpFile.h"
#include "track/FrameSource.h"
#include "track/VideoFrameSource.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path SourceDir() {
  return std::getenv("PAVREL_SOURCE_DIR");
}
fs::path FixtureDir() {
  return SourceDir() / "tests" / "detector" / "fixtures";
}
fs::path MediaDir() {
  return std::getenv("PAVREL_MEDIA_DIR");
}
fs::path ModelFile() {
  return SourceDir() / "models" / "palm_detection_full.onnx";
}

json ReadJson(const fs::path& File) {
  std::ifstream In(File);
  return json::parse(In);
}

THandDetection FromJson(const json& J) {
  THandDetection D;
  D.Score = J.at("score").get<float>();
  const auto Box = J.at("box").get<std::vector<float>>();
  D.XMin = Box.at(0), D.YMin = Box.at(1), D.XMax = Box.at(2), D.YMax = Box.at(3);
  const auto& Kp = J.at("keypoints");
  for (std::size_t K = 0; K < D.Keypoints.size(); ++K)
    D.Keypoints[K] = {Kp.at(K).at(0).get<float>(), Kp.at(K).at(1).get<float>()};
  return D;
}

std::vector<THandDetection> FromJsonList(const json& List) {
  std::vector<THandDetection> Out;
  for (const auto& J : List)
    Out.push_back(FromJson(J));
  return Out;
}

std::vector<THandDetection> ByScore(std::vector<THandDetection> List) {
  std::stable_sort(List.begin(), List.end(),
                   [](const auto& A, const auto& B) { return A.Score > B.Score; });
  return List;
}

// Same boxes, keypoints and scores, in the same order (both best first).
void ExpectSameDetections(const std::vector<THandDetection>& Got,
                          const std::vector<THandDetection>& Want, float PixelTolerance) {
  ASSERT_EQ(Got.size(), Want.size());
  for (std::size_t I = 0; I < Got.size(); ++I) {
    SCOPED_TRACE("detection " + std::to_string(I));
    EXPECT_NEAR(Got[I].Score, Want[I].Score, 1e-4);
    EXPECT_NEAR(Got[I].XMin, Want[I].XMin, PixelTolerance);
    EXPECT_NEAR(Got[I].YMin, Want[I].YMin, PixelTolerance);
    EXPECT_NEAR(Got[I].XMax, Want[I].XMax, PixelTolerance);
    EXPECT_NEAR(Got[I].YMax, Want[I].YMax, PixelTolerance);
    for (std::size_t K = 0; K < Got[I].Keypoints.size(); ++K) {
      EXPECT_NEAR(Got[I].Keypoints[K][0], Want[I].Keypoints[K][0], PixelTolerance);
      EXPECT_NEAR(Got[I].Keypoints[K][1], Want[I].Keypoints[K][1], PixelTolerance);
    }
  }
}

TEST(PalmDecoding, AnchorsCoverTwoGridsOfTheInput) {
  const auto& A = palm::Anchors();
  ASSERT_EQ(A.size(), palm::AnchorCount);
  // 24 x 24 cells with 2 anchors each, then 12 x 12 cells with 6 each, row by row.
  EXPECT_FLOAT_EQ(A[0].X, 0.5f / 24);
  EXPECT_FLOAT_EQ(A[1].X, 0.5f / 24);
  EXPECT_FLOAT_EQ(A[2].X, 1.5f / 24);
  EXPECT_FLOAT_EQ(A[48].Y, 1.5f / 24);
  EXPECT_FLOAT_EQ(A[1151].X, 23.5f / 24);
  EXPECT_FLOAT_EQ(A[1152].X, 0.5f / 12);
  EXPECT_FLOAT_EQ(A[1157].X, 0.5f / 12);
  EXPECT_FLOAT_EQ(A[1158].X, 1.5f / 12);
  EXPECT_FLOAT_EQ(A[2015].Y, 11.5f / 12);
}

TEST(PalmDecoding, BoxesLandInFramePixelsThroughTheLetterbox) {
  // A portrait 90 x 120 frame is padded 15 pixels left and right to a 120 square.
  const palm::TLetterbox Box = palm::LetterboxFor(90, 120);
  EXPECT_EQ(Box.Side, 120);
  EXPECT_EQ(Box.Left, 15);
  EXPECT_EQ(Box.Top, 0);
  std::vector<float> Raw(palm::AnchorCount * palm::ValuesPerBox, 0.0f);
  std::vector<float> Logits(palm::AnchorCount, -20.0f);
  const std::size_t I = 1152 + 6 * (12 * 3 + 5);  // 12 x 12 grid, cell x 5, y 3
  Logits[I] = 2.0f;
  float* R = Raw.data() + I * palm::ValuesPerBox;
  R[0] = 19.2f, R[1] = -9.6f, R[2] = 48, R[3] = 96;  // input pixels
  R[4] = 0, R[5] = 0;                                // first keypoint on the anchor
  const auto Found = palm::Decode(Raw, Logits, Box, 0.5f);
  ASSERT_EQ(Found.size(), 1u);
  const THandDetection& D = Found[0];
  EXPECT_NEAR(D.Score, 1 / (1 + std::exp(-2.0f)), 1e-6);
  // Centre: (5.5 / 12 + 0.1) * 120 - 15 = 52; (3.5 / 12 - 0.05) * 120 = 29.
  EXPECT_NEAR(D.CentreX(), 52, 1e-4);
  EXPECT_NEAR(D.CentreY(), 29, 1e-4);
  EXPECT_NEAR(D.Width(), 30, 1e-4);
  EXPECT_NEAR(D.Height(), 60, 1e-4);
  EXPECT_NEAR(D.Keypoints[0][0], 5.5f / 12 * 120 - 15, 1e-4);
  EXPECT_NEAR(D.Keypoints[0][1], 3.5f / 12 * 120, 1e-4);
  EXPECT_TRUE(palm::Decode(Raw, Logits, Box, 0.9f).empty());
  EXPECT_THROW(palm::Decode(std::span(Raw).first(10), Logits, Box, 0.5f), std::invalid_argument);
}

class PalmReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Reference = ReadJson(FixtureDir() / "palm-reference.json");
    Detector = std::make_unique<TPalmDetector>(
        ModelFile(), TPalmDetectorOptions{.MinScore = Reference.at("min_score").get<float>(),
                                          .MinSuppressionIou = Reference.at("iou").get<float>()});
  }
  static void TearDownTestSuite() { Detector.reset(); }
  static inline json Reference;
  static inline std::unique_ptr<TPalmDetector> Detector;
};

TEST_F(PalmReference, CandidatesMatchTheIndependentDecoder) {
  for (const auto& Case : Reference.at("cases")) {
    SCOPED_TRACE(Case.at("frame").get<std::string>());
    const TBitmap Frame = LoadBmpFile(FixtureDir() / Case.at("frame").get<std::string>());
    ExpectSameDetections(ByScore(Detector->Candidates(Frame)),
                         ByScore(FromJsonList(Case.at("candidates"))), 0.02f);
  }
}

TEST_F(PalmReference, SuppressionMatchesTheIndependentSuppression) {
  std::size_t Merged = 0;
  for (const auto& Case : Reference.at("cases")) {
    SCOPED_TRACE(Case.at("frame").get<std::string>());
    const auto Candidates = FromJsonList(Case.at("candidates"));
    const auto Want = FromJsonList(Case.at("detections"));
    Merged += Candidates.size() - Want.size();
    ExpectSameDetections(palm::SuppressOverlaps(Candidates, Reference.at("iou").get<float>()), Want,
                         0.01f);
  }
  EXPECT_GT(Merged, 0u) << "the fixture should hold overlapping candidates";
}

TEST_F(PalmReference, DetectionsMatchTheIndependentReference) {
  for (const auto& Case : Reference.at("cases")) {
    SCOPED_TRACE(Case.at("frame").get<std::string>());
    const TBitmap Frame = LoadBmpFile(FixtureDir() / Case.at("frame").get<std::string>());
    ExpectSameDetections(Detector->Detect(Frame), FromJsonList(Case.at("detections")), 0.02f);
  }
}

TEST_F(PalmReference, PaddingTheFrameShiftsTheBoxes) {
  // A 160 x 120 frame set into a black 160 x 160 one: the network sees the same square.
  const TBitmap Frame = LoadBmpFile(FixtureDir() / "asl_hand-000.bmp");
  TBitmap Tall(160, 160);
  Tall.FillBlack();
  for (int Row = 0; Row < 120; ++Row)
    std::copy_n(Frame.ScanLine(Row), 160 * 3, Tall.ScanLine(Row + 20));
  auto Want = Detector->Detect(Frame);
  ASSERT_FALSE(Want.empty());
  for (auto& D : Want) {
    D.YMin += 20, D.YMax += 20;
    for (auto& K : D.Keypoints)
      K[1] += 20;
  }
  ExpectSameDetections(Detector->Detect(Tall), Want, 0.02f);
}

TEST(PalmDetector, RefusesWhatItCannotUse) {
  EXPECT_THROW(TPalmDetector("/nonexistent/palm.onnx"), EDetectorError);
  const fs::path Junk = fs::temp_directory_path() / "pavrel-junk-model.onnx";
  std::ofstream(Junk) << "not a model";
  EXPECT_THROW(TPalmDetector{Junk}, EDetectorError);
  fs::remove(Junk);
  TPalmDetector Detector(ModelFile());
  EXPECT_THROW(Detector.Detect(TBitmap()), EDetectorError);
  EXPECT_THROW(Detector.Detect(TBitmap(160, 120, TPixelFormat::pf8bit)), EDetectorError);
  EXPECT_THROW(Detector.Detect(TBitmap(160, 120, TPixelFormat::pf32bit)), EDetectorError);
}

// Frames of a clip as the program gets them (160 x 120 through the video layer).
std::vector<TBitmap> ClipFrames(const std::string& Clip, const std::vector<int>& Wanted) {
  auto Source = track::TVideoFrameSource::File((MediaDir() / Clip).string());
  std::vector<TBitmap> Out;
  track::TSourceFrame Frame;
  for (int Index = 0; Out.size() < Wanted.size() && Source->Next(Frame); ++Index) {
    if (std::find(Wanted.begin(), Wanted.end(), Index) != Wanted.end() && Frame.Bitmap)
      Out.push_back(*Frame.Bitmap);
  }
  return Out;
}

TEST(PalmDetectorOnClips, FindsTheFingerspellingHand) {
  const json Truth = ReadJson(MediaDir() / "asl_hand.truth.json");
  const double Sx = 160.0 / Truth.at("width").get<double>();
  const double Sy = 120.0 / Truth.at("height").get<double>();
  const std::vector<int> Wanted{0, 40, 80, 120, 160, 200, 240, 280, 320};
  const auto Frames = ClipFrames("asl_hand.mp4", Wanted);
  ASSERT_EQ(Frames.size(), Wanted.size());
  TPalmDetector Detector(ModelFile());
  for (std::size_t I = 0; I < Frames.size(); ++I) {
    SCOPED_TRACE("frame " + std::to_string(Wanted[I]));
    const auto Found = Detector.Detect(Frames[I]);
    ASSERT_EQ(Found.size(), 1u);
    // The palm box holds the centre of the wrist and four knuckles.
    const auto& L = Truth.at("truth").at(Wanted[I]).at("hands").at(0).at("landmarks");
    double X = 0, Y = 0;
    for (int K : {0, 5, 9, 13, 17})
      X += L.at(K).at(0).get<double>() / 5, Y += L.at(K).at(1).get<double>() / 5;
    X *= Sx, Y *= Sy;
    EXPECT_GT(X, Found[0].XMin);
    EXPECT_LT(X, Found[0].XMax);
    EXPECT_GT(Y, Found[0].YMin);
    EXPECT_LT(Y, Found[0].YMax);
    // The palm point lies near that centre: within a quarter of the hand's diagonal.
    const auto& Box = Truth.at("truth").at(Wanted[I]).at("hands").at(0).at("bbox");
    const double Diagonal = std::hypot((Box.at(2).get<double>() - Box.at(0).get<double>()) * Sx,
                                       (Box.at(3).get<double>() - Box.at(1).get<double>()) * Sy);
    EXPECT_LT(std::hypot(Found[0].PalmX() - X, Found[0].PalmY() - Y), 0.25 * Diagonal);
  }
}

TEST(PalmDetectorOnClips, FindsNothingWhereNoHandShows) {
  // Hands hang out of the picture (or are a motion blur at its lower edge): nothing is found,
  // neither on the face nor on the body.
  const std::vector<int> Wanted{5, 6, 7, 8, 96, 97, 98, 99, 100};
  const auto Frames = ClipFrames("asl_sign_face_office.mp4", Wanted);
  ASSERT_EQ(Frames.size(), Wanted.size());
  TPalmDetector Detector(ModelFile());
  for (std::size_t I = 0; I < Frames.size(); ++I) {
    SCOPED_TRACE("frame " + std::to_string(Wanted[I]));
    EXPECT_TRUE(Detector.Detect(Frames[I]).empty());
  }
}

TEST(PalmDetectorOnClips, NeverFiresOnTheFace) {
  // Frames 0-2: the face and body in full view, one hand cut off by the lower edge. Whatever is
  // found lies at that edge, well below the face.
  const auto Frames = ClipFrames("asl_sign_face_office.mp4", {0, 1, 2});
  ASSERT_EQ(Frames.size(), 3u);
  TPalmDetector Detector(ModelFile());
  for (const auto& Frame : Frames) {
    for (const auto& D : Detector.Detect(Frame)) {
      EXPECT_GT(D.YMax, 118) << "a detection away from the lower edge";
      EXPECT_GT(D.CentreX(), 95) << "a detection left of the hanging hand";
    }
  }
}

}  // namespace
}  // namespace pavrel
