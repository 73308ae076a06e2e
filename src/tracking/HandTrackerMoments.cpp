// The tracker's moment passes: skin sums, the window from moments and the Hu features.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include "tracking/ColorKernels.h"
#include "tracking/HandTracker.h"

namespace pavrel {

namespace {

// A new window wider or higher than this means the ratio is absurd; the frame counts as lost.
constexpr double MaxWindowSide = 1 << 24;

std::int32_t Round32(double Value) {
  return static_cast<std::int32_t>(RoundHalfEven(Value));
}

}  // namespace

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

// The window's size from the zeroth moment and the orientation of the hand: a rectangle of
// the parameters' height-to-width ratio holding the skin's area, turned with the hand. Lost
// when it is smaller than LoseTrackArea or the ratio is unusable.
THandTracker::TWindowSize THandTracker::WindowFromMoments(double M0, double Theta,
                                                          const TTrackerParameters& Params) {
  const double ratio = Params.HeightToWidthRatio;
  TWindowSize size;
  if (ratio > 0 && std::isfinite(ratio)) {
    const double P = static_cast<double>(RoundHalfEven(std::sqrt(M0 / 255)));
    const double phi = std::atan(1 / ratio);
    const double alpha = std::fabs(std::fabs(Theta) - phi);
    const double D = std::sqrt(P * P + (P * ratio) * (P * ratio));
    const double w = D * std::sin(alpha + phi);
    const double h = D * std::cos(alpha);
    if (w <= MaxWindowSide && h <= MaxWindowSide) {
      size.Width = RoundHalfEven(w);
      size.Height = RoundHalfEven(h);
      size.Lost = size.Width * size.Height < Params.LoseTrackArea;
    }
  }
  return size;
}

void THandTracker::PrepareBackProjection() {
  if (FViews && (BackProjectionImage.Width() != FWidth || BackProjectionImage.Height() != FHeight ||
                 BackProjectionImage.PixelFormat() != TPixelFormat::pf24bit)) {
    std::scoped_lock bpLock(BackProjectionImage.Lock());
    BackProjectionImage.SetPixelFormat(TPixelFormat::pf24bit);
    BackProjectionImage.SetSize(FWidth, FHeight);
    FBlackKnown = false;
  }
  // Integer sums equal the double sums while every partial sum stays below 2^53.
  const double visited = std::max(0.0, (FWidth - 1.0) * (FHeight - 1.0));
  const double side = std::max(FWidth, FHeight);
  FExactSums = visited * 255 * side * side * side < 9007199254740992.0;
}

bool THandTracker::MeanShiftStep(std::int64_t Expansion, std::int32_t Threshold,
                                 TMeanShift& Shift) {
  std::scoped_lock bpLock(BackProjectionImage.Lock());
  ClearBackProjection();
  const TSpan span = ExpandedSpan(Expansion);
  double Mr, Mc;
  PassA(span, Shift.M0, Mr, Mc);
  PrevCentreRow = CentreRow;
  PrevCentreColumn = CentreColumn;
  if (Shift.M0 > 0) {
    CentreRow = Round32(Mr / Shift.M0);
    CentreColumn = Round32(Mc / Shift.M0);
  }  // no skin: the centre stays and the search ends here
  const TCentralSums sums = PassB(span, false);
  Shift.Theta = MomentOrientation(sums.Src, sums.Srr, sums.Scc);
  const std::int32_t moveRows = CentreRow - PrevCentreRow;
  const std::int32_t moveColumns = CentreColumn - PrevCentreColumn;
  Window.Left += moveColumns;
  Window.Right += moveColumns;
  Window.Top += moveRows;
  Window.Bottom += moveRows;
  return std::abs(moveRows) < Threshold && std::abs(moveColumns) < Threshold;
}

void THandTracker::PlaceWindow(const TWindowSize& Size) {
  if (Size.Lost) {
    GoHome();
    return;
  }
  Window.Left = CentreColumn - static_cast<std::int32_t>(Size.Width / 2);
  Window.Top = CentreRow - static_cast<std::int32_t>(Size.Height / 2);
  Window.Right = Window.Left + static_cast<std::int32_t>(Size.Width);
  Window.Bottom = Window.Top + static_cast<std::int32_t>(Size.Height);
}

void THandTracker::HuFeatures(double M0, const TCentralSums& Sums, TTrackingResult& Result) {
  Result.Angle = MomentOrientation(Sums.Src, Sums.Srr, Sums.Scc);
  const std::array<double, 4> hu =
      HuInvariants({M0, Sums.Srr, Sums.Scc, Sums.Src, Sums.Srrr, Sums.Sccr, Sums.Srrc, Sums.Sccc});
  Result.HuMoment1 = hu[0];
  Result.HuMoment2 = hu[1];
  Result.HuMoment3 = hu[2];
  Result.HuMoment4 = hu[3];
}

}  // namespace pavrel
