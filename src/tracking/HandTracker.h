#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "image/Bitmap.h"
#include "tracking/BlobTracker.h"
#include "tracking/SkinModel.h"
#include "tracking/Tracker.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// Finds the hand by six HSV bounds and follows it with a mean-shift window.
class THandTracker : public TTracker {
 public:
  // Create: the home rectangle is thresholded every frame, is the first search window and
  // the window the search falls back to when the hand is lost. Coordinates beyond +-2^30
  // raise std::invalid_argument.
  explicit THandTracker(const TRect& HomeRect);

  // Processes one 24-bit frame and fills every field of Result. Raises EColorError for a
  // frame of another format before anything changes.
  void Track(const TBitmap& Frame, TTrackingResult& Result);

  // Copies the whole set; safe to call from another thread while Track runs (a frame
  // works with the set copied at its start). Always answers true.
  bool SetParameters(const TTrackerParameters& Params);
  // A copy of the set the tracker works with.
  TTrackerParameters GetParameters() const;

  // A learned colour model to track with instead of the six bounds, or null for the
  // bounds. Safe from another thread; the next frame starts with a search of the whole
  // picture. With a model the back-projection view shows the whole picture's skin mask.
  void SetSkinModel(std::shared_ptr<const TSkinModel> Model);
  std::shared_ptr<const TSkinModel> SkinModel() const;
  // Which point of the hand's blob a learned model follows. Call before frames run.
  void SetPalmPoint(TPalmPoint Method) { FBlob.SetPalmPoint(Method); }
  // Moves the search window to Window for the next Track, as when a detector found the hand
  // there. Call it between frames, from the thread that tracks.
  void RestartAt(const TRect& Window);
  // The window the search falls back to when the hand is lost.
  const TRect& Home() const { return HomeRect; }

  // The skin mask of the last frame (white skin, black elsewhere), for diagnostics.
  const TBitmap& SkinMask() const { return MaskImage; }

  // Whether Track fills the hue, back-projection and mask images (on by default). A caller
  // that shows none of them turns them off: a frame then costs one byte a pixel beside
  // itself instead of thirteen, and the results stay the same. With the views off, the
  // result's image references are null. Call it between frames, from the thread that tracks.
  void SetViews(bool On);
  bool Views() const { return FViews; }

  // An oscillating window ends its frame after this many mean-shift steps.
  static constexpr int MaxIterations = 20;

 private:
  // Visited pixels of a pass, both ends included; empty when First > Last.
  struct TSpan {
    std::int64_t FirstRow = 1, LastRow = 0, FirstColumn = 1, LastColumn = 0;
    bool Empty() const { return FirstRow > LastRow || FirstColumn > LastColumn; }
  };
  // Central sums of the skin pixels of a pass about the centre, J (255) included.
  struct TCentralSums {
    double Srr = 0, Scc = 0, Src = 0;
    double Srrr = 0, Sccr = 0, Srrc = 0, Sccc = 0;
  };
  // Pixel count and sums of powers of row and column of the skin pixels of a pass.
  struct TRawSums {
    std::int64_t N = 0, R = 0, C = 0, RR = 0, CC = 0, RC = 0;
    std::int64_t RRR = 0, CCC = 0, RRC = 0, RCC = 0;
  };

  TSpan ExpandedSpan(std::int64_t Expansion) const;
  // 255 where pixel (Row, Column) of the last frame is skin, else 0.
  int SkinValue(std::int64_t Row, std::int64_t Column) const {
    return FSkin[static_cast<std::size_t>(Row) * static_cast<std::size_t>(FWidth) +
                 static_cast<std::size_t>(Column)] != 0
               ? 255
               : 0;
  }
  void ConvertAndThreshold(const TBitmap& Frame, const TTrackerParameters& Params);
  void ClearBackProjection();
  void PassA(const TSpan& Span, double& M0, double& Mr, double& Mc);
  TCentralSums PassB(const TSpan& Span, bool ThirdOrder) const;
  // Adds the skin pixels of Span to Sums (third powers with Third).
  void AddSkinSums(const TSpan& Span, bool Third, TRawSums& Sums) const;
  void GoHome();
  void TrackLearned(const TBitmap& Frame, const TTrackerParameters& Params, const TSkinModel& Model,
                    TTrackingResult& Result);

  std::int32_t CentreRow = 0;
  std::int32_t CentreColumn = 0;
  std::int32_t PrevCentreRow = 0;
  std::int32_t PrevCentreColumn = 0;
  TRect Window;
  TRect HomeRect;
  TBitmap BackProjectionImage;
  TBitmap MaskImage;
  TBitmap HSVImage;
  TBitmap HueImage;
  TTrackerParameters Parameters;  // guarded by FParametersLock
  mutable std::mutex FParametersLock;
  std::shared_ptr<const TSkinModel> FSkinModel;  // guarded by FParametersLock
  bool FModelChanged = false;                    // guarded by FParametersLock
  TBlobTracker FBlob;

  // BackProjectionImage is black outside FDirty once FBlackKnown holds.
  TSpan FDirty;
  bool FBlackKnown = false;
  // Whether integer sums equal the double sums exactly at the current frame size.
  bool FExactSums = true;
  // Raw sums of the last pass A.
  TRawSums FPassASums;
  // The skin mask again, one byte (0 or 1) a pixel, rows of the frame's width.
  std::vector<std::uint8_t> FSkin;
  // The last frame's size.
  int FWidth = 0;
  int FHeight = 0;
  bool FViews = true;
  // One row of each image when the views are off.
  std::vector<std::uint8_t> FRowScratch;
};

}  // namespace pavrel
