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
// A new window wider or higher than this means the ratio is absurd; the frame counts as lost.
constexpr double MaxWindowSide = 1 << 24;

std::int32_t Round32(double Value) {
  return static_cast<std::int32_t>(RoundHalfEven(Value));
}

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

void THandTracker::AddSkinSums(const TSpan& Span, bool Third, TRawSums& Sums) const {
  if (Span.Empty()) {
    return;
  }
  const std::int64_t c0 = Span.FirstColumn;
  const int count = static_cast<int>(Span.LastColumn - c0 + 1);
  const std::size_t width = static_cast<std::size_t>(FWidth);
  for (std::int64_t r = Span.FirstRow; r <= Span.LastRow; ++r) {
    const std::uint8_t* skin = FSkin.data() + static_cast<std::size_t>(r) * width + c0;
    const detail::TRowSums j = detail::SumSkinRow(skin, count, Third);
    if (j.N == 0) {
      continue;
    }
    // Columns are c0 + j.
    const std::int64_t c = j.J + c0 * j.N;
    const std::int64_t cc = j.JJ + 2 * c0 * j.J + c0 * c0 * j.N;
    Sums.N += j.N;
    Sums.R += r * j.N;
    Sums.C += c;
    Sums.RR += r * r * j.N;
    Sums.CC += cc;
    Sums.RC += r * c;
    if (Third) {
      const std::int64_t ccc = j.JJJ + 3 * c0 * j.JJ + 3 * c0 * c0 * j.J + c0 * c0 * c0 * j.N;
      Sums.RRR += r * r * r * j.N;
      Sums.CCC += ccc;
      Sums.RRC += r * r * c;
      Sums.RCC += r * cc;
    }
  }
}

void THandTracker::PassA(const TSpan& Span, double& M0, double& Mr, double& Mc) {
  M0 = Mr = Mc = 0;
  FPassASums = TRawSums{};
  if (Span.Empty()) {
    return;
  }
  FDirty = Span;
  const std::size_t begin = 3 * static_cast<std::size_t>(Span.FirstColumn);
  const std::size_t length = 3 * static_cast<std::size_t>(Span.LastColumn - Span.FirstColumn + 1);
  for (std::int64_t r = Span.FirstRow; r <= Span.LastRow; ++r) {
    if (FViews) {
      const std::uint8_t* mask = MaskImage.ScanLine(static_cast<int>(r));
      std::memcpy(BackProjectionImage.ScanLine(static_cast<int>(r)) + begin, mask + begin, length);
    }
    if (!FExactSums) {
      for (std::int64_t c = Span.FirstColumn; c <= Span.LastColumn; ++c) {
        const int j = SkinValue(r, c);  // the mask's byte
        M0 += j;
        Mr += static_cast<double>(r * j);
        Mc += static_cast<double>(c * j);
      }
    }
  }
  if (FExactSums) {
    // J is 0 or 255: sum the skin pixels' positions and scale by J.
    AddSkinSums(Span, false, FPassASums);
    M0 = 255.0 * static_cast<double>(FPassASums.N);
    Mr = 255.0 * static_cast<double>(FPassASums.R);
    Mc = 255.0 * static_cast<double>(FPassASums.C);
  }
}

THandTracker::TCentralSums THandTracker::PassB(const TSpan& Span, bool ThirdOrder) const {
  TCentralSums out;
  const std::int64_t R = CentreRow;
  const std::int64_t C = CentreColumn;
  if (!FExactSums) {
    // Large frames: the sums in the written order, in doubles. The back projection holds the
    // mask on the last pass A's span and black elsewhere, where nothing is added.
    const std::int64_t firstRow = std::max(Span.FirstRow, FDirty.FirstRow);
    const std::int64_t lastRow = std::min(Span.LastRow, FDirty.LastRow);
    const std::int64_t firstColumn = std::max(Span.FirstColumn, FDirty.FirstColumn);
    const std::int64_t lastColumn = std::min(Span.LastColumn, FDirty.LastColumn);
    for (std::int64_t r = firstRow; r <= lastRow; ++r) {
      for (std::int64_t c = firstColumn; c <= lastColumn; ++c) {
        const int j = SkinValue(r, c);
        if (j == 0) {
          continue;
        }
        const double J = j;
        const double dr = static_cast<double>(r - R);
        const double dc = static_cast<double>(c - C);
        out.Srr += J * dr * dr;
        out.Scc += J * dc * dc;
        out.Src += static_cast<double>(j * (c - C) * (r - R));
        if (ThirdOrder) {
          out.Srrr += J * dr * dr * dr;
          out.Sccr += J * dc * dc * dr;
          out.Srrc += J * dr * dr * dc;
          out.Sccc += J * dc * dc * dc;
        }
      }
    }
    return out;
  }

  // Exact integer sums: raw sums about the origin, moved to the centre.
  TRawSums s;
  if (!ThirdOrder) {
    s = FPassASums;  // pass B reads what the last pass A copied, over the same span
  } else {
    // The back projection holds the mask on the last pass A's span and black elsewhere.
    TSpan v = Span;
    v.FirstRow = std::max(v.FirstRow, FDirty.FirstRow);
    v.LastRow = std::min(v.LastRow, FDirty.LastRow);
    v.FirstColumn = std::max(v.FirstColumn, FDirty.FirstColumn);
    v.LastColumn = std::min(v.LastColumn, FDirty.LastColumn);
    AddSkinSums(v, true, s);
  }
  const std::int64_t srr = s.RR - 2 * R * s.R + s.N * R * R;
  const std::int64_t scc = s.CC - 2 * C * s.C + s.N * C * C;
  const std::int64_t src = s.RC - C * s.R - R * s.C + s.N * R * C;
  out.Srr = 255.0 * static_cast<double>(srr);
  out.Scc = 255.0 * static_cast<double>(scc);
  out.Src = 255.0 * static_cast<double>(src);
  if (ThirdOrder) {
    const std::int64_t srrr = s.RRR - 3 * R * s.RR + 3 * R * R * s.R - s.N * R * R * R;
    const std::int64_t sccc = s.CCC - 3 * C * s.CC + 3 * C * C * s.C - s.N * C * C * C;
    const std::int64_t sccr = s.RCC - 2 * C * s.RC + C * C * s.R - R * scc;
    const std::int64_t srrc = s.RRC - 2 * R * s.RC + R * R * s.C - C * srr;
    out.Srrr = 255.0 * static_cast<double>(srrr);
    out.Sccc = 255.0 * static_cast<double>(sccc);
    out.Sccr = 255.0 * static_cast<double>(sccr);
    out.Srrc = 255.0 * static_cast<double>(srrc);
  }
  return out;
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

  const int width = FWidth;
  const int height = FHeight;
  if (FViews && (BackProjectionImage.Width() != width || BackProjectionImage.Height() != height ||
                 BackProjectionImage.PixelFormat() != TPixelFormat::pf24bit)) {
    std::scoped_lock bpLock(BackProjectionImage.Lock());
    BackProjectionImage.SetPixelFormat(TPixelFormat::pf24bit);
    BackProjectionImage.SetSize(width, height);
    FBlackKnown = false;
  }
  // Integer sums equal the double sums while every partial sum stays below 2^53.
  const double visited = std::max(0.0, (width - 1.0) * (height - 1.0));
  const double side = std::max(width, height);
  FExactSums = visited * 255 * side * side * side < 9007199254740992.0;

  const std::int64_t expansion = params.WindowExpansion;
  const std::int32_t threshold = std::max(params.MeanThreshold, 1);
  double M0 = 0;
  double theta = 0;
  for (int iteration = 0; iteration < MaxIterations; ++iteration) {
    bool converged;
    {
      std::scoped_lock bpLock(BackProjectionImage.Lock());
      ClearBackProjection();
      const TSpan span = ExpandedSpan(expansion);
      double Mr, Mc;
      PassA(span, M0, Mr, Mc);
      PrevCentreRow = CentreRow;
      PrevCentreColumn = CentreColumn;
      if (M0 > 0) {
        CentreRow = Round32(Mr / M0);
        CentreColumn = Round32(Mc / M0);
      }  // no skin: the centre stays and the iteration ends below
      const TCentralSums sums = PassB(span, false);
      theta = MomentOrientation(sums.Src, sums.Srr, sums.Scc);
      const std::int32_t moveRows = CentreRow - PrevCentreRow;
      const std::int32_t moveColumns = CentreColumn - PrevCentreColumn;
      Window.Left += moveColumns;
      Window.Right += moveColumns;
      Window.Top += moveRows;
      Window.Bottom += moveRows;
      converged = std::abs(moveRows) < threshold && std::abs(moveColumns) < threshold;
    }
    if (converged) {
      break;
    }
  }

  // The new window's size from the last iteration.
  const double ratio = params.HeightToWidthRatio;
  bool lost = true;
  std::int64_t newWidth = 0;
  std::int64_t newHeight = 0;
  if (ratio > 0 && std::isfinite(ratio)) {
    const double P = static_cast<double>(RoundHalfEven(std::sqrt(M0 / 255)));
    const double phi = std::atan(1 / ratio);
    const double alpha = std::fabs(std::fabs(theta) - phi);
    const double D = std::sqrt(P * P + (P * ratio) * (P * ratio));
    const double w = D * std::sin(alpha + phi);
    const double h = D * std::cos(alpha);
    if (w <= MaxWindowSide && h <= MaxWindowSide) {
      newWidth = RoundHalfEven(w);
      newHeight = RoundHalfEven(h);
      lost = newWidth * newHeight < params.LoseTrackArea;
    }
  }

  // Final pass, reading the back projection at the window's last position.
  const TCentralSums f = PassB(ExpandedSpan(expansion), true);

  if (lost) {
    GoHome();
  } else {
    Window.Left = CentreColumn - static_cast<std::int32_t>(newWidth / 2);
    Window.Top = CentreRow - static_cast<std::int32_t>(newHeight / 2);
    Window.Right = Window.Left + static_cast<std::int32_t>(newWidth);
    Window.Bottom = Window.Top + static_cast<std::int32_t>(newHeight);
  }

  Result.Angle = MomentOrientation(f.Src, f.Srr, f.Scc);
  const std::array<double, 4> hu =
      HuInvariants({M0, f.Srr, f.Scc, f.Src, f.Srrr, f.Sccr, f.Srrc, f.Sccc});
  Result.HuMoment1 = hu[0];
  Result.HuMoment2 = hu[1];
  Result.HuMoment3 = hu[2];
  Result.HuMoment4 = hu[3];
  Result.CentreRow = CentreRow;
  Result.CentreColumn = CentreColumn;
  Result.HueImage = FViews ? &HueImage : nullptr;
  Result.BackProjectionImage = FViews ? &BackProjectionImage : nullptr;
  Result.Window = Window;
  Result.Lost = lost;
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
