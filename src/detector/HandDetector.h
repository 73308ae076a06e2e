#pragma once

// Hands in a frame, found by a learned palm detector. The interface lets the worker thread and
// the tracker's tests run with a stand-in.

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "detector/PalmDecoding.h"
#include "image/Bitmap.h"

namespace pavrel {

// A model that cannot be loaded or a frame the detector cannot take; the message says which.
class EDetectorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IHandDetector {
 public:
  virtual ~IHandDetector() = default;
  // Hands in a 24-bit frame, best first, in the frame's pixels. Not thread-safe: one caller.
  virtual std::vector<THandDetection> Detect(const TBitmap& Frame) = 0;
};

struct TPalmDetectorOptions {
  // Boxes scoring below this are dropped (0.6 keeps the odd shoulder or strap out).
  float MinScore = 0.6f;
  // Overlapping boxes above this intersection over union are merged into one.
  float MinSuppressionIou = 0.3f;
};

// The palm detection network (models/palm_detection_full.onnx) run by OpenCV's dnn module on
// one thread.
class TPalmDetector : public IHandDetector {
 public:
  // EDetectorError when the file is missing or is not a loadable model.
  explicit TPalmDetector(const std::filesystem::path& ModelFile, TPalmDetectorOptions Options = {});
  ~TPalmDetector() override;
  TPalmDetector(const TPalmDetector&) = delete;
  TPalmDetector& operator=(const TPalmDetector&) = delete;

  // EDetectorError for an empty or non-24-bit frame.
  std::vector<THandDetection> Detect(const TBitmap& Frame) override;

  // The network's raw candidates for a frame (scores at least MinScore), before suppression.
  std::vector<THandDetection> Candidates(const TBitmap& Frame);

  const TPalmDetectorOptions& Options() const { return FOptions; }

 private:
  struct TNet;
  std::unique_ptr<TNet> FNet;
  TPalmDetectorOptions FOptions;
};

// Where the palm model is: $PAVREL_PALM_MODEL when set, else the installed copy, else the
// copy in the source tree this program was built from.
std::filesystem::path DefaultPalmModelFile();

}  // namespace pavrel
