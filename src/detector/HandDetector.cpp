#include "detector/HandDetector.h"

#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <system_error>

namespace pavrel {

struct TPalmDetector::TNet {
  cv::dnn::Net Net;
  std::vector<cv::Mat> Outputs;
};

TPalmDetector::TPalmDetector(const std::filesystem::path& ModelFile, TPalmDetectorOptions Options)
    : FNet(std::make_unique<TNet>()), FOptions(Options) {
  std::error_code Error;
  if (!std::filesystem::is_regular_file(ModelFile, Error))
    throw EDetectorError("palm model " + ModelFile.string() + " not found");
  // One thread: the detector shares the machine with the video thread and the desktop.
  cv::setNumThreads(1);
  try {
    FNet->Net = cv::dnn::readNetFromONNX(ModelFile.string());
  } catch (const cv::Exception& E) {
    throw EDetectorError("palm model " + ModelFile.string() + " cannot be loaded: " + E.msg);
  }
  if (FNet->Net.empty())
    throw EDetectorError("palm model " + ModelFile.string() + " cannot be loaded");
  FNet->Net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  FNet->Net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
}

TPalmDetector::~TPalmDetector() = default;

std::vector<THandDetection> TPalmDetector::Candidates(const TBitmap& Frame) {
  if (Frame.Empty() || Frame.PixelFormat() != TPixelFormat::pf24bit)
    throw EDetectorError("the palm detector takes 24-bit frames");
  const cv::Mat Bgr(Frame.Height(), Frame.Width(), CV_8UC3, const_cast<std::uint8_t*>(Frame.Bits()),
                    Frame.Stride());
  const palm::TLetterbox Box = palm::LetterboxFor(Frame.Width(), Frame.Height());
  const int Side = static_cast<int>(Box.Side), Left = static_cast<int>(Box.Left),
            Top = static_cast<int>(Box.Top);
  cv::Mat Square;
  cv::copyMakeBorder(Bgr, Square, Top, Side - Frame.Height() - Top, Left,
                     Side - Frame.Width() - Left, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  const cv::Mat Blob = cv::dnn::blobFromImage(Square, 1.0 / 255, {palm::InputSize, palm::InputSize},
                                              cv::Scalar(), /*swapRB=*/true, /*crop=*/false);
  try {
    FNet->Net.setInput(Blob);
    FNet->Net.forward(FNet->Outputs, std::vector<std::string>{"regressors", "classificators"});
  } catch (const cv::Exception& E) {
    throw EDetectorError(std::string("palm detector failed: ") + E.msg);
  }
  const cv::Mat& Boxes = FNet->Outputs[0];
  const cv::Mat& Scores = FNet->Outputs[1];
  return palm::Decode({Boxes.ptr<float>(), Boxes.total()}, {Scores.ptr<float>(), Scores.total()},
                      Box, FOptions.MinScore);
}

std::vector<THandDetection> TPalmDetector::Detect(const TBitmap& Frame) {
  return palm::SuppressOverlaps(Candidates(Frame), FOptions.MinSuppressionIou);
}

std::filesystem::path DefaultPalmModelFile() {
  if (const char* Env = std::getenv("PAVREL_PALM_MODEL"); Env && *Env)
    return Env;
  const std::filesystem::path Installed =
      std::filesystem::path(PAVREL_INSTALLED_MODEL_DIR) / "palm_detection_full.onnx";
  std::error_code Error;
  if (std::filesystem::is_regular_file(Installed, Error))
    return Installed;
  return std::filesystem::path(PAVREL_SOURCE_MODEL_DIR) / "palm_detection_full.onnx";
}

}  // namespace pavrel
