#include "tracking/HandTracker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "tracking/ColorKernels.h"

namespace pavrel {

namespace {

constexpr std::int64_t MaxHomeCoordinate = std::int64_t{1} << 30;

void ClampBounds(std::int32_t Low, std::int32_t High, std::uint8_t& ByteLow,
                 std::uint8_t& ByteHigh) {
  if (Low > High || Low > 255 || High < 0) {
    ByteLow = 1;
    ByteHigh = 0;  // accepts nothing
    return;
  }
  ByteLow = static_cast<std::uint8_t>(std::max(Low, 0));
  ByteHigh = static_cast<std::uint8_t>(std::min(High, 255));
}

}  // namespace

THandTracker::THandTracker(const TRect& Home) {
  for (std::int32_t v : {Home.Left, Home.Top, Home.Right, Home.Bottom}) {
    if (std::llabs(v) > MaxHomeCoordinate) {
      throw std::invalid_argument("THandTracker: home rectangle coordinate " + std::to_string(v) +
                                  " is out of range");
    }
  }
  HomeRect = Home;
  GoHome();
  // The images take the frame's size on the first Track.
  for (TBitmap* image : {&BackProjectionImage, &MaskImage, &HSVImage, &HueImage}) {
    image->SetPixelFormat(TPixelFormat::pf24bit);
  }
  FBlackKnown = true;
  Parameters.LHueBound = 141;
  Parameters.HHueBound = 143;
  Parameters.LSatBound = 128;
  Parameters.HSatBound = 255;
  Parameters.LValBound = 45;
  Parameters.HValBound = 255;
  Parameters.HeightToWidthRatio = 1.72;
  Parameters.LoseTrackArea = 9;
  Parameters.MeanThreshold = 1;
  Parameters.WindowExpansion = 10;
}

bool THandTracker::SetParameters(const TTrackerParameters& Params) {
  std::scoped_lock lock(FParametersLock);
  Parameters = Params;
  return true;
}

TTrackerParameters THandTracker::GetParameters() const {
  std::scoped_lock lock(FParametersLock);
  return Parameters;
}

void THandTracker::GoHome() {
  Window = HomeRect;
  CentreRow = static_cast<std::int32_t>((std::int64_t{HomeRect.Bottom} - HomeRect.Top) / 2);
  CentreColumn = static_cast<std::int32_t>((std::int64_t{HomeRect.Right} - HomeRect.Left) / 2);
}

void THandTracker::RestartAt(const TRect& NewWindow) {
  Window = NewWindow;
  CentreRow = static_cast<std::int32_t>((std::int64_t{NewWindow.Top} + NewWindow.Bottom) / 2);
  CentreColumn = static_cast<std::int32_t>((std::int64_t{NewWindow.Left} + NewWindow.Right) / 2);
  FBlob.RestartAt(NewWindow);
}

THandTracker::TSpan THandTracker::ExpandedSpan(std::int64_t Expansion) const {
  // Row 0 and column 0 are never visited.
  TSpan s;
  s.FirstRow = std::max<std::int64_t>(1, std::int64_t{Window.Top} - Expansion);
  s.LastRow = std::min<std::int64_t>(FHeight - 1, std::int64_t{Window.Bottom} - 1 + Expansion);
  s.FirstColumn = std::max<std::int64_t>(1, std::int64_t{Window.Left} - Expansion);
  s.LastColumn = std::min<std::int64_t>(FWidth - 1, std::int64_t{Window.Right} - 1 + Expansion);
  return s;
}

void THandTracker::ConvertAndThreshold(const TBitmap& Frame, const TTrackerParameters& Params) {
  // In one pass per row: HSVImage (the frame converted), HueImage (a copy of HSVImage with
  // grey hue inside the home rectangle, Right and Bottom included), MaskImage (black with the
  // skin mask inside the home rectangle) and the same mask one byte a pixel. Without the
  // views, the three images are one scratch row each and only the one-byte mask is kept.
  const int width = Frame.Width();
  const int height = Frame.Height();
  FWidth = width;
  FHeight = height;
  if (FViews) {
    for (TBitmap* image : {&HSVImage, &MaskImage, &HueImage}) {
      image->SetPixelFormat(TPixelFormat::pf24bit);
      image->SetSize(width, height);
    }
  } else {
    FRowScratch.resize(9 * static_cast<std::size_t>(width));
  }
  FSkin.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  const std::int64_t firstRow = std::max<std::int64_t>(HomeRect.Top, 0);
  const std::int64_t lastRow = std::min<std::int64_t>(HomeRect.Bottom, height - 1);
  const int firstColumn = static_cast<int>(std::max<std::int64_t>(HomeRect.Left, 0));
  const int lastColumn = static_cast<int>(std::min<std::int64_t>(HomeRect.Right, width - 1));
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);

  detail::TSkinBounds bounds;
  ClampBounds(Params.LHueBound, Params.HHueBound, bounds.LowHue, bounds.HighHue);
  ClampBounds(Params.LSatBound, Params.HSatBound, bounds.LowSat, bounds.HighSat);
  ClampBounds(Params.LValBound, Params.HValBound, bounds.LowVal, bounds.HighVal);
  const detail::TConvertRow convert = detail::ConvertRow();
  const detail::TConvertThresholdRow convertThreshold = detail::ConvertThresholdRow();

  for (int r = 0; r < height; ++r) {
    const std::uint8_t* source = Frame.ScanLine(r);
    std::uint8_t* hsv = FViews ? HSVImage.ScanLine(r) : FRowScratch.data();
    std::uint8_t* hue = FViews ? HueImage.ScanLine(r) : FRowScratch.data() + rowBytes;
    std::uint8_t* mask = FViews ? MaskImage.ScanLine(r) : FRowScratch.data() + 2 * rowBytes;
    std::uint8_t* skin =
        FSkin.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
    if (r < firstRow || r > lastRow || firstColumn > lastColumn) {
      std::memset(skin, 0, static_cast<std::size_t>(width));
      if (!FViews) {
        continue;
      }
      convert(source, hsv, width);
      std::memcpy(hue, hsv, rowBytes);
      std::memset(mask, 0, rowBytes);
      continue;
    }
    const std::size_t begin = 3 * static_cast<std::size_t>(firstColumn);
    const std::size_t end = 3 * static_cast<std::size_t>(lastColumn + 1);
    const int after = width - 1 - lastColumn;
    std::memset(skin, 0, static_cast<std::size_t>(firstColumn));
    std::memset(skin + lastColumn + 1, 0, static_cast<std::size_t>(after));
    if (!FViews) {
      convertThreshold(source + begin, hsv, hue, mask, skin + firstColumn,
                       lastColumn - firstColumn + 1, bounds);
      continue;
    }
    // Each part of the source row is read before the same part of any image is written, so
    // that a frame which is one of this tracker's own images still converts correctly.
    convert(source, hsv, firstColumn);
    convert(source + end, hsv + end, after);
    convertThreshold(source + begin, hsv + begin, hue + begin, mask + begin, skin + firstColumn,
                     lastColumn - firstColumn + 1, bounds);
    std::memcpy(hue, hsv, begin);
    std::memcpy(hue + end, hsv + end, rowBytes - end);
    std::memset(mask, 0, begin);
    std::memset(mask + end, 0, rowBytes - end);
  }
}

void THandTracker::ClearBackProjection() {
  if (!FViews) {
    // Nothing to clear; FDirty alone says where the back projection would hold the mask.
  } else if (!FBlackKnown) {
    BackProjectionImage.FillBlack();
    FBlackKnown = true;
  } else if (!FDirty.Empty()) {
    const std::size_t begin = 3 * static_cast<std::size_t>(FDirty.FirstColumn);
    const std::size_t length =
        3 * static_cast<std::size_t>(FDirty.LastColumn - FDirty.FirstColumn + 1);
    for (std::int64_t r = FDirty.FirstRow; r <= FDirty.LastRow; ++r) {
      std::memset(BackProjectionImage.ScanLine(static_cast<int>(r)) + begin, 0, length);
    }
  }
  FDirty = TSpan{};
}

void THandTracker::Track(const TBitmap& Frame, TTrackingResult& Result) {
  // A frame of another format fails here, before anything changes.
  detail::RequireTwentyFourBit(Frame);
  // One whole parameter set and model per frame, whatever SetParameters does meanwhile.
  TTrackerParameters params;
  std::shared_ptr<const TSkinModel> model;
  bool modelChanged;
  {
    std::scoped_lock lock(FParametersLock);
    params = Parameters;
    model = FSkinModel;
    modelChanged = std::exchange(FModelChanged, false);
  }
  if (modelChanged) {
    GoHome();
    FBlob.Reset();
  }
  if (model) {
    // The bounds then accept nothing; the model decides skin.
    params.LHueBound = 1;
    params.HHueBound = 0;
    TrackLearned(Frame, params, *model, Result);
    return;
  }

  std::scoped_lock maskLock(MaskImage.Lock());
  std::scoped_lock hueLock(HueImage.Lock());
  std::scoped_lock hsvLock(HSVImage.Lock());
  // The colour conversion (as GetImageSpace) and the threshold, fused.
  ConvertAndThreshold(Frame, params);
  PrepareBackProjection();

  const std::int64_t expansion = params.WindowExpansion;
  const std::int32_t threshold = std::max(params.MeanThreshold, 1);
  TMeanShift shift;
  for (int iteration = 0; iteration < MaxIterations; ++iteration) {
    if (MeanShiftStep(expansion, threshold, shift)) {
      break;
    }
  }
  // The new window's size from the last step; the features from a final pass over the back
  // projection at the window's last position.
  const TWindowSize size = WindowFromMoments(shift.M0, shift.Theta, params);
  const TCentralSums features = PassB(ExpandedSpan(expansion), true);
  PlaceWindow(size);

  HuFeatures(shift.M0, features, Result);
  Result.CentreRow = CentreRow;
  Result.CentreColumn = CentreColumn;
  Result.HueImage = FViews ? &HueImage : nullptr;
  Result.BackProjectionImage = FViews ? &BackProjectionImage : nullptr;
  Result.Window = Window;
  Result.Lost = size.Lost;
  Result.Hand = {CentreRow, CentreColumn};
  Result.LearnedModel = false;
}

void THandTracker::SetViews(bool On) {
  if (On == FViews) {
    return;
  }
  FViews = On;
  FDirty = TSpan{};
  FBlackKnown = false;  // the back projection is painted black again before it is used
  if (!On) {
    // The images' memory goes now; they take the frame's size again when the views return.
    for (TBitmap* image : {&BackProjectionImage, &MaskImage, &HSVImage, &HueImage}) {
      std::scoped_lock lock(image->Lock());
      *image = TBitmap();
      image->SetPixelFormat(TPixelFormat::pf24bit);
    }
  } else {
    FRowScratch = {};
  }
}

void THandTracker::SetSkinModel(std::shared_ptr<const TSkinModel> Model) {
  std::scoped_lock lock(FParametersLock);
  FSkinModel = std::move(Model);
  FModelChanged = true;
}

std::shared_ptr<const TSkinModel> THandTracker::SkinModel() const {
  std::scoped_lock lock(FParametersLock);
  return FSkinModel;
}

void THandTracker::TrackLearned(const TBitmap& Frame, const TTrackerParameters& Params,
                                const TSkinModel& Model, TTrackingResult& Result) {
  std::scoped_lock maskLock(MaskImage.Lock());
  std::scoped_lock hueLock(HueImage.Lock());
  std::scoped_lock hsvLock(HSVImage.Lock());
  // The views stay those of the seed's model: the hue picture, and the mask of the whole
  // picture as the learned model sees it.
  ConvertAndThreshold(Frame, Params);
  const int width = FWidth;
  const int height = FHeight;
  for (int r = 0; r < height; ++r) {
    std::uint8_t* skin =
        FSkin.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
    Model.ClassifyRow(Frame.ScanLine(r), skin, width);
    if (!FViews) {
      continue;
    }
    std::uint8_t* mask = MaskImage.ScanLine(r);
    for (int c = 0; c < width; ++c) {
      const std::uint8_t j = skin[c] ? 255 : 0;
      mask[3 * c] = mask[3 * c + 1] = mask[3 * c + 2] = j;
    }
  }
  if (FViews) {
    std::scoped_lock bpLock(BackProjectionImage.Lock());
    BackProjectionImage.Assign(MaskImage);
    FBlackKnown = false;  // the seed's model paints it black again when it takes over
  }
  const TBlobResult blob = FBlob.Track(FSkin.data(), width, height);
  Result.Angle = blob.Angle;
  Result.CentreRow = blob.Centre.Row;
  Result.CentreColumn = blob.Centre.Column;
  Result.HuMoment1 = blob.Hu[0];
  Result.HuMoment2 = blob.Hu[1];
  Result.HuMoment3 = blob.Hu[2];
  Result.HuMoment4 = blob.Hu[3];
  Result.HueImage = FViews ? &HueImage : nullptr;
  Result.BackProjectionImage = FViews ? &BackProjectionImage : nullptr;
  Result.Window = blob.Window;
  Result.Lost = blob.Lost;
  Result.Hand = blob.Hand;
  Result.LearnedModel = true;
}

}  // namespace pavrel
