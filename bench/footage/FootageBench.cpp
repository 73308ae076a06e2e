// Real clips with hand truth, one calibration click at the palm of a clearly visible hand,
// and four ways to find the hand side by side on the same 160 x 120 frames the program sees:
// the learned colour model, the seed's six bounds calibrated from its box, OpenCV's CamShift
// with a hue-saturation histogram from the click's region, and a point fixed at the middle.
//
// footage-bench [--pictures FOLDER] [--palm disc|deepest|centroid] [--trace] [CLIP...]
// --trace writes one line a frame of the tracker guided by the detector to stderr.
// CLIP is a clip name in $PAVREL_MEDIA_DIR (default: the three clips with truth).

#include <nlohmann/json.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "detector/HandDetector.h"
#include "detector/HandGuide.h"
#include "detector/PalmCalibration.h"
#include "pipeline/Calibration.h"
#include "settings/Settings.h"
#include "track/FrameSource.h"
#include "tracking/HandTracker.h"
#include "tracking/SkinModel.h"

namespace {

using namespace pavrel;
using json = nlohmann::json;

constexpr int Width = 160;
constexpr int Height = 120;

struct THand {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;  // source pixels
  double PalmX = 0, PalmY = 0;
};

struct TClip {
  std::string Name;
  int SourceWidth = 0, SourceHeight = 0;
  std::vector<TBitmap> Frames;
  std::vector<std::vector<THand>> Truth;  // by frame
};

TClip LoadClip(const std::string& Media, const std::string& Name) {
  TClip clip;
  clip.Name = Name;
  std::ifstream in(Media + "/" + Name + ".truth.json");
  if (!in) {
    throw std::runtime_error("no truth file for " + Name);
  }
  const json truth = json::parse(in);
  clip.SourceWidth = truth.at("width");
  clip.SourceHeight = truth.at("height");
  std::ostringstream warnings;
  const auto source = track::MakeFrameSource(Media + "/" + Name + ".mp4", warnings);
  track::TSourceFrame frame;
  while (source->Next(frame)) {
    if (!frame.Bitmap) {
      throw std::runtime_error(Name + ": " + frame.Error);
    }
    clip.Frames.push_back(*frame.Bitmap);
  }
  clip.Truth.resize(clip.Frames.size());
  for (const json& entry : truth.at("truth")) {
    const std::size_t f = entry.at("frame");
    if (f >= clip.Truth.size()) {
      continue;
    }
    for (const json& h : entry.at("hands")) {
      THand hand;
      hand.Left = h.at("bbox")[0];
      hand.Top = h.at("bbox")[1];
      hand.Right = h.at("bbox")[2];
      hand.Bottom = h.at("bbox")[3];
      for (int i : {0, 5, 9, 13, 17}) {
        hand.PalmX += h.at("landmarks")[static_cast<std::size_t>(i)][0].get<double>() / 5;
        hand.PalmY += h.at("landmarks")[static_cast<std::size_t>(i)][1].get<double>() / 5;
      }
      clip.Truth[f].push_back(hand);
    }
  }
  return clip;
}

// One frame's answer of a tracker, in 160 x 120 pixels.
struct TAnswer {
  double Row = 0, Column = 0;
  bool Lost = false;
};

class TMethod {
 public:
  virtual ~TMethod() = default;
  virtual std::string Name() const = 0;
  virtual void Calibrate(const TBitmap& Frame, const THandRegion& Region, int Column, int Row) = 0;
  virtual TAnswer Track(const TBitmap& Frame) = 0;
};

class TLearned : public TMethod {
 public:
  explicit TLearned(TPalmPoint Palm) : FTracker({0, 0, Width, Height}) {
    FTracker.SetParameters(DefaultParameters());
    FTracker.SetPalmPoint(Palm);
  }
  std::string Name() const override { return "learned"; }
  void Calibrate(const TBitmap& Frame, const THandRegion&, int Column, int Row) override {
    TSkinExamples examples;
    CalibrateHand(Frame, Column, Row, examples);
    FTracker.SetSkinModel(std::make_shared<const TSkinModel>(examples));
  }
  TAnswer Track(const TBitmap& Frame) override {
    TTrackingResult r;
    FTracker.Track(Frame, r);
    Masks.push_back(*r.BackProjectionImage);
    return {static_cast<double>(r.Hand.Row), static_cast<double>(r.Hand.Column), r.Lost};
  }
  // The skin mask of every frame, for the pictures.
  std::vector<TBitmap> Masks;

 private:
  THandTracker FTracker;
};

// The learned model guided by the palm detector (run inline on the frames' 30 a second clock,
// as pavrel-track --detector=on does): calibrated on the detected palm where one is found, or
// by the click, it answers "lost" while no hand is confirmed.
class TGuided : public TMethod {
 public:
  TGuided(TPalmPoint Palm, bool ByClick) : FByClick(ByClick), FTracker({0, 0, Width, Height}) {
    FTracker.SetParameters(DefaultParameters());
    FTracker.SetPalmPoint(Palm);
    FDetector = std::make_unique<TPalmDetector>(DefaultPalmModelFile());
    FGuide = THandGuide::Inline(std::make_unique<TPalmDetector>(DefaultPalmModelFile()));
  }
  std::string Name() const override {
    return FByClick ? "learned + detector, click" : "learned + detector";
  }
  void Calibrate(const TBitmap& Frame, const THandRegion&, int Column, int Row) override {
    const std::vector<THandDetection> hands =
        FByClick ? std::vector<THandDetection>{} : FDetector->Detect(Frame);
    TSkinExamples examples;
    if (hands.empty()) {
      CalibrateHand(Frame, Column, Row, examples);  // as a click would
    } else {
      CalibrateOnPalm(Frame, hands.front(), examples);
    }
    FTracker.SetSkinModel(std::make_shared<const TSkinModel>(examples));
  }
  TAnswer Track(const TBitmap& Frame) override {
    TTrackingResult r;
    FNow += std::chrono::microseconds(33333);
    const THandGateDecision gate = FGuide->Track(FTracker, Frame, r, FNow);
    if (Trace) {
      // frame, newest result, whether it may act, lost, window, point, then the newest boxes
      const TDetectorResult* newest = FGuide->NewestResult();
      std::fprintf(stderr, "trace %zu result %llu act %d lost %d window %d,%d,%d,%d point %d,%d",
                   FFrame, newest ? static_cast<unsigned long long>(newest->Sequence) : 0ULL,
                   gate.MayAct, r.Lost, r.Window.Left, r.Window.Top, r.Window.Right,
                   r.Window.Bottom, r.Hand.Column, r.Hand.Row);
      for (const THandDetection& h : newest ? newest->Hands : std::vector<THandDetection>{}) {
        std::fprintf(stderr, " [%.2f %.0f,%.0f,%.0f,%.0f]", h.Score, h.XMin, h.YMin, h.XMax,
                     h.YMax);
      }
      std::fprintf(stderr, "\n");
    }
    ++FFrame;
    return {static_cast<double>(r.Hand.Row), static_cast<double>(r.Hand.Column),
            r.Lost || !gate.MayAct};
  }

 private:
  bool FByClick;
  THandTracker FTracker;
  std::unique_ptr<TPalmDetector> FDetector;
  std::unique_ptr<THandGuide> FGuide;
  TDetectorClock::time_point FNow{};
  std::size_t FFrame = 0;

 public:
  bool Trace = false;  // one line a frame on stderr
};

// The seed's model as its README calibrates it: the hue picture's box, other bounds at the
// start-up defaults.
class TSeed : public TMethod {
 public:
  TSeed() : FTracker({0, 0, Width, Height}) { FTracker.SetParameters(DefaultParameters()); }
  std::string Name() const override { return "seed"; }
  void Calibrate(const TBitmap& Frame, const THandRegion&, int, int) override {
    TTrackingResult r;
    THandTracker probe({0, 0, Width, Height});
    probe.Track(Frame, r);
    TTrackerParameters p = DefaultParameters();
    std::scoped_lock lock(r.HueImage->Lock());
    HueBoundsFromStatistics(SampleCalibrationBox(*r.HueImage), p.LHueBound, p.HHueBound);
    FTracker.SetParameters(p);
  }
  TAnswer Track(const TBitmap& Frame) override {
    TTrackingResult r;
    FTracker.Track(Frame, r);
    return {static_cast<double>(r.Hand.Row), static_cast<double>(r.Hand.Column), r.Lost};
  }

 private:
  THandTracker FTracker;
};

cv::Mat ToMat(const TBitmap& Frame) {
  cv::Mat m(Frame.Height(), Frame.Width(), CV_8UC3);
  for (int r = 0; r < Frame.Height(); ++r) {
    std::copy_n(Frame.ScanLine(r), 3 * Frame.Width(), m.ptr<std::uint8_t>(r));
  }
  return m;
}

// OpenCV's CamShift sample: HSV, a mask of saturated, not too dark pixels, the region's
// histogram (here hue and saturation), back projection under the mask, CamShift.
class TCamShift : public TMethod {
 public:
  std::string Name() const override { return "camshift"; }
  void Calibrate(const TBitmap& Frame, const THandRegion& Region, int, int) override {
    cv::Mat hsv, mask;
    Prepare(Frame, hsv, mask);
    const cv::Rect box(Region.Box.Left, Region.Box.Top, Region.Box.Right - Region.Box.Left,
                       Region.Box.Bottom - Region.Box.Top);
    cv::Mat roi(hsv, box), roiMask(mask, box);
    const int channels[] = {0, 1};
    const int sizes[] = {30, 32};
    const float hueRange[] = {0, 180}, satRange[] = {0, 256};
    const float* ranges[] = {hueRange, satRange};
    cv::calcHist(&roi, 1, channels, roiMask, FHistogram, 2, sizes, ranges);
    cv::normalize(FHistogram, FHistogram, 0, 255, cv::NORM_MINMAX);
    FWindow = box;
  }
  TAnswer Track(const TBitmap& Frame) override {
    cv::Mat hsv, mask, backProjection;
    Prepare(Frame, hsv, mask);
    const int channels[] = {0, 1};
    const float hueRange[] = {0, 180}, satRange[] = {0, 256};
    const float* ranges[] = {hueRange, satRange};
    cv::calcBackProject(&hsv, 1, channels, FHistogram, backProjection, ranges);
    backProjection &= mask;
    bool lost = false;
    if (FWindow.area() <= 1) {
      FWindow = cv::Rect(0, 0, Width, Height);  // as the sample: search again
      lost = true;
    }
    const cv::RotatedRect box =
        cv::CamShift(backProjection, FWindow,
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 10, 1));
    return {box.center.y, box.center.x, lost || FWindow.area() <= 1};
  }

 private:
  static void Prepare(const TBitmap& Frame, cv::Mat& Hsv, cv::Mat& Mask) {
    cv::cvtColor(ToMat(Frame), Hsv, cv::COLOR_BGR2HSV);
    cv::inRange(Hsv, cv::Scalar(0, 60, 32), cv::Scalar(180, 255, 255), Mask);
  }
  cv::Mat FHistogram;
  cv::Rect FWindow;
};

class TFixed : public TMethod {
 public:
  std::string Name() const override { return "middle"; }
  void Calibrate(const TBitmap&, const THandRegion&, int, int) override {}
  TAnswer Track(const TBitmap&) override { return {Height / 2.0, Width / 2.0, false}; }
};

struct TFigures {
  int HandFrames = 0, Hits = 0, EmptyFrames = 0, FoundEmpty = 0;
  std::vector<double> Distances;
  double Median() const {
    if (Distances.empty()) {
      return NAN;
    }
    std::vector<double> d = Distances;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return d[d.size() / 2];
  }
};

// Source pixels of a point of the 160 x 120 picture (the centre of its pixel).
void ToSource(const TClip& Clip, const TAnswer& A, double& X, double& Y) {
  X = (A.Column + 0.5) * Clip.SourceWidth / Width;
  Y = (A.Row + 0.5) * Clip.SourceHeight / Height;
}

bool Hit(const TClip& Clip, const std::vector<THand>& Hands, const TAnswer& A) {
  if (A.Lost) {
    return false;
  }
  double x, y;
  ToSource(Clip, A, x, y);
  for (const THand& h : Hands) {
    const double gx = 0.15 * (h.Right - h.Left);
    const double gy = 0.15 * (h.Bottom - h.Top);
    if (x >= h.Left - gx && x <= h.Right + gx && y >= h.Top - gy && y <= h.Bottom + gy) {
      return true;
    }
  }
  return false;
}

double PalmDistance(const TClip& Clip, const std::vector<THand>& Hands, const TAnswer& A) {
  double x, y, best = INFINITY;
  ToSource(Clip, A, x, y);
  for (const THand& h : Hands) {
    const double diagonal = std::hypot(h.Right - h.Left, h.Bottom - h.Top);
    best = std::min(best, std::hypot(x - h.PalmX, y - h.PalmY) / diagonal);
  }
  return best;
}

// The frame to calibrate on: the first whose hand lies wholly inside the picture, with the
// click at its palm.
std::size_t CalibrationFrame(const TClip& Clip, int& Column, int& Row) {
  for (std::size_t f = 0; f < Clip.Truth.size(); ++f) {
    for (const THand& h : Clip.Truth[f]) {
      if (h.Left > 0 && h.Top > 0 && h.Right < Clip.SourceWidth && h.Bottom < Clip.SourceHeight) {
        Column = static_cast<int>(h.PalmX * Width / Clip.SourceWidth);
        Row = static_cast<int>(h.PalmY * Height / Clip.SourceHeight);
        return f;
      }
    }
  }
  throw std::runtime_error(Clip.Name + " shows no whole hand");
}

const std::array<cv::Scalar, 4> Colours = {cv::Scalar(0, 0, 255), cv::Scalar(255, 128, 0),
                                           cv::Scalar(0, 220, 255), cv::Scalar(200, 0, 200)};

void Picture(const TClip& Clip, const std::vector<std::unique_ptr<TMethod>>& Methods,
             const std::vector<std::vector<TAnswer>>& Answers, const std::vector<TBitmap>& Masks,
             std::size_t Calibration, const THandRegion& Region, const std::string& File) {
  // The calibration frame with its region, five frames evenly spread, and up to six where
  // the learned model misses.
  std::vector<std::size_t> chosen{Calibration};
  const std::size_t n = Clip.Frames.size();
  for (std::size_t i = 1; i < 6; ++i) {
    chosen.push_back(i * n / 6);
  }
  std::vector<std::size_t> misses;
  for (std::size_t f = 0; f < n; ++f) {
    if (!Clip.Truth[f].empty() && !Hit(Clip, Clip.Truth[f], Answers[0][f])) {
      misses.push_back(f);
    }
  }
  for (std::size_t i = 0; i < std::min<std::size_t>(6, misses.size()); ++i) {
    chosen.push_back(misses[i * misses.size() / std::min<std::size_t>(6, misses.size())]);
  }
  constexpr int Scale = 2;
  constexpr int Columns = 6;
  // Each row of frames has the learned model's skin mask below it.
  const int rows = 2 * static_cast<int>((chosen.size() + Columns - 1) / Columns);
  cv::Mat sheet(rows * Height * Scale + 24, Columns * Width * Scale, CV_8UC3,
                cv::Scalar(40, 40, 40));
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const std::size_t f = chosen[i];
    cv::Mat tile;
    cv::resize(ToMat(Clip.Frames[f]), tile, {Width * Scale, Height * Scale}, 0, 0,
               cv::INTER_NEAREST);
    const double sx = static_cast<double>(Width * Scale) / Clip.SourceWidth;
    const double sy = static_cast<double>(Height * Scale) / Clip.SourceHeight;
    for (const THand& h : Clip.Truth[f]) {
      const double gx = 0.15 * (h.Right - h.Left);
      const double gy = 0.15 * (h.Bottom - h.Top);
      cv::rectangle(tile, cv::Point(int((h.Left - gx) * sx), int((h.Top - gy) * sy)),
                    cv::Point(int((h.Right + gx) * sx), int((h.Bottom + gy) * sy)),
                    cv::Scalar(0, 255, 0), 1);
      cv::drawMarker(tile, cv::Point(int(h.PalmX * sx), int(h.PalmY * sy)), cv::Scalar(0, 255, 0),
                     cv::MARKER_CROSS, 10, 2);
    }
    for (std::size_t m = 0; m < Methods.size(); ++m) {
      const TAnswer& a = Answers[m][f];
      const cv::Point p(int((a.Column + 0.5) * Scale), int((a.Row + 0.5) * Scale));
      cv::circle(tile, p, 5, Colours[m % Colours.size()], a.Lost ? 1 : -1);
    }
    cv::putText(tile, std::to_string(f), {4, 16}, cv::FONT_HERSHEY_SIMPLEX, 0.5,
                cv::Scalar(255, 255, 255), 1);
    const int x = static_cast<int>(i % Columns) * Width * Scale;
    const int y = 2 * static_cast<int>(i / Columns) * Height * Scale;
    tile.copyTo(sheet(cv::Rect(x, y, Width * Scale, Height * Scale)));
    cv::Mat mask = ToMat(Masks[f]);
    if (i == 0) {
      for (int r = 0; r < Height; ++r) {
        for (int c = 0; c < Width; ++c) {
          if (Region.Mask[static_cast<std::size_t>(r * Width + c)]) {
            mask.at<cv::Vec3b>(r, c) = {0, 160, 0};
          }
        }
      }
    }
    cv::resize(mask, mask, {Width * Scale, Height * Scale}, 0, 0, cv::INTER_NEAREST);
    const TAnswer& a = Answers[0][f];
    cv::circle(mask, cv::Point(int((a.Column + 0.5) * Scale), int((a.Row + 0.5) * Scale)), 5,
               Colours[0], a.Lost ? 1 : -1);
    mask.copyTo(sheet(cv::Rect(x, y + Height * Scale, Width * Scale, Height * Scale)));
  }
  int x = 6;
  const int y = rows * Height * Scale + 17;
  cv::putText(sheet, "truth box + palm", {x, y}, cv::FONT_HERSHEY_SIMPLEX, 0.45,
              cv::Scalar(0, 255, 0));
  x += 150;
  for (std::size_t m = 0; m < Methods.size(); ++m) {
    cv::circle(sheet, {x, y - 5}, 5, Colours[m % Colours.size()], -1);
    cv::putText(sheet, Methods[m]->Name(), {x + 10, y}, cv::FONT_HERSHEY_SIMPLEX, 0.45,
                cv::Scalar(255, 255, 255));
    x += 120;
  }
  cv::putText(sheet, "(ring: lost)", {x, y}, cv::FONT_HERSHEY_SIMPLEX, 0.45,
              cv::Scalar(255, 255, 255));
  cv::imwrite(File, sheet, {cv::IMWRITE_JPEG_QUALITY, 80});
}

}  // namespace

int main(int argc, char** argv) {
  const char* mediaEnv = std::getenv("PAVREL_MEDIA_DIR");
  const std::string media = mediaEnv ? mediaEnv : "media";
  std::vector<std::string> clips;
  std::optional<std::string> pictures;
  TPalmPoint palm = TPalmPoint::PalmDisc;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pictures" && i + 1 < argc) {
      pictures = argv[++i];
    } else if (a == "--trace") {
      trace = true;
    } else if (a == "--palm" && i + 1 < argc) {
      const std::string p = argv[++i];
      palm = p == "deepest"    ? TPalmPoint::DistanceMaximum
             : p == "centroid" ? TPalmPoint::Centroid
                               : TPalmPoint::PalmDisc;
    } else {
      clips.push_back(a);
    }
  }
  if (clips.empty()) {
    clips = {"asl_hand", "hand_gestures_cubicle", "asl_sign_face_office"};
  }
  try {
    std::printf("| clip | tracker | hit rate | median palm distance | found without a hand |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const std::string& name : clips) {
      const TClip clip = LoadClip(media, name);
      int column = 0, row = 0;
      const std::size_t calibration = CalibrationFrame(clip, column, row);
      const THandRegion region = GrowHandRegion(clip.Frames[calibration], column, row);
      std::vector<std::unique_ptr<TMethod>> methods;
      methods.push_back(std::make_unique<TLearned>(palm));
      methods.push_back(std::make_unique<TSeed>());
      methods.push_back(std::make_unique<TCamShift>());
      methods.push_back(std::make_unique<TFixed>());
      methods.push_back(std::make_unique<TGuided>(palm, true));
      methods.push_back(std::make_unique<TGuided>(palm, false));
      static_cast<TGuided&>(*methods.back()).Trace = trace;
      std::vector<std::vector<TAnswer>> answers(methods.size());
      for (std::size_t m = 0; m < methods.size(); ++m) {
        methods[m]->Calibrate(clip.Frames[calibration], region, column, row);
        for (const TBitmap& frame : clip.Frames) {
          answers[m].push_back(methods[m]->Track(frame));
        }
      }
      for (std::size_t m = 0; m < methods.size(); ++m) {
        TFigures f;
        for (std::size_t i = 0; i < clip.Frames.size(); ++i) {
          const TAnswer& a = answers[m][i];
          if (clip.Truth[i].empty()) {
            ++f.EmptyFrames;
            f.FoundEmpty += !a.Lost;
            continue;
          }
          ++f.HandFrames;
          f.Hits += Hit(clip, clip.Truth[i], a);
          f.Distances.push_back(PalmDistance(clip, clip.Truth[i], a));
        }
        char empty[32] = "-";
        if (f.EmptyFrames > 0) {
          std::snprintf(empty, sizeof empty, "%.0f %% (%d/%d)",
                        100.0 * f.FoundEmpty / f.EmptyFrames, f.FoundEmpty, f.EmptyFrames);
        }
        std::printf("| %s | %s | %.1f %% | %.3f | %s |\n", name.c_str(), methods[m]->Name().c_str(),
                    100.0 * f.Hits / f.HandFrames, f.Median(), empty);
      }
      std::fprintf(stderr,
                   "%s: %zu frames, calibration click at (%d, %d) of frame %zu, region %d px\n",
                   name.c_str(), clip.Frames.size(), column, row, calibration, region.Count);
      if (pictures) {
        Picture(clip, methods, answers, static_cast<TLearned&>(*methods[0]).Masks, calibration,
                region, *pictures + "/" + name + ".jpg");
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "footage-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
