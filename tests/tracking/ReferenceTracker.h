#pragma once

// A deliberately plain hand tracker for comparison: pixel by pixel, double sums in the written
// order, a fresh black back projection on every iteration. The optimised tracker must agree
// with it to the bit.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/Bitmap.h"
#include "tracking/ColorKernels.h"
#include "tracking/ColorLibrary.h"
#include "tracking/TrackerTypes.h"

namespace pavrel::test {

// The HSV image pixel by pixel from RGBToHSV.
inline void ReferenceImageSpace(const TBitmap& Source, TBitmap& Dest) {
  Dest.SetPixelFormat(TPixelFormat::pf24bit);
  Dest.SetSize(Source.Width(), Source.Height());
  for (int r = 0; r < Source.Height(); ++r) {
    for (int c = 0; c < Source.Width(); ++c) {
      std::int32_t h, s, v;
      RGBToHSV(Source.Row24(r)[c], h, s, v);
      Dest.Row24(r)[c] = MakeRGBTriple(detail::HueByte(h), static_cast<std::uint8_t>(s),
                                       static_cast<std::uint8_t>(v));
    }
  }
}

class TReferenceTracker {
 public:
  TReferenceTracker(TRect Home, const TTrackerParameters& Params) : FHome(Home), FP(Params) {
    GoHome();
  }

  int MaxIterations = 20;
  int Iterations = 0;  // mean-shift steps of the last frame
  TBitmap Hsv, Hue, Mask, Bp;

  void Track(const TBitmap& Frame, TTrackingResult& Result) {
    ReferenceImageSpace(Frame, Hsv);
    const int width = Hsv.Width();
    const int height = Hsv.Height();
    Mask.Assign(Hsv);
    Mask.FillBlack();
    Hue.Assign(Hsv);
    for (std::int64_t r = FHome.Top; r <= FHome.Bottom; ++r) {
      for (std::int64_t c = FHome.Left; c <= FHome.Right; ++c) {
        if (r < 0 || r >= height || c < 0 || c >= width) {
          continue;
        }
        const TRGBTriple p = Hsv.Row24(static_cast<int>(r))[c];
        const int h = p.rgbtRed, s = p.rgbtGreen, v = p.rgbtBlue;
        Hue.Row24(static_cast<int>(r))[c] = MakeRGBTriple(p.rgbtRed, p.rgbtRed, p.rgbtRed);
        const bool skin = FP.LHueBound <= h && h <= FP.HHueBound && FP.LSatBound <= s &&
                          s <= FP.HSatBound && FP.LValBound <= v && v <= FP.HValBound;
        const std::uint8_t j = skin ? 255 : 0;
        Mask.Row24(static_cast<int>(r))[c] = MakeRGBTriple(j, j, j);
      }
    }
    Bp.SetPixelFormat(TPixelFormat::pf24bit);
    Bp.SetSize(width, height);

    const std::int32_t threshold = std::max(FP.MeanThreshold, 1);
    double M0 = 0, theta = 0;
    Iterations = 0;
    bool converged = false;
    while (!converged && Iterations < MaxIterations) {
      ++Iterations;
      double Mr = 0, Mc = 0;
      M0 = 0;
      Bp.FillBlack();
      ForExpanded(height, width, [&](int r, int c) {
        const int j = Mask.Row24(r)[c].rgbtBlue;
        Bp.Row24(r)[c] = MakeRGBTriple(static_cast<std::uint8_t>(j), static_cast<std::uint8_t>(j),
                                       static_cast<std::uint8_t>(j));
        M0 += j;
        Mr += static_cast<double>(r) * j;
        Mc += static_cast<double>(c) * j;
      });
      FPrevRow = FRow;
      FPrevColumn = FColumn;
      if (M0 != 0) {
        FRow = static_cast<std::int32_t>(RoundHalfEven(Mr / M0));
        FColumn = static_cast<std::int32_t>(RoundHalfEven(Mc / M0));
      }
      double Srr = 0, Scc = 0, Src = 0;
      ForExpanded(height, width, [&](int r, int c) {
        const int j = Bp.Row24(r)[c].rgbtBlue;
        if (j != 0) {
          const double dr = r - FRow, dc = c - FColumn;
          Srr += j * dr * dr;
          Scc += j * dc * dc;
          Src += static_cast<double>(std::int64_t{j} * (c - FColumn) * (r - FRow));
        }
      });
      theta = Angle(Src, Srr, Scc);
      FWindow.Left += FColumn - FPrevColumn;
      FWindow.Right += FColumn - FPrevColumn;
      FWindow.Top += FRow - FPrevRow;
      FWindow.Bottom += FRow - FPrevRow;
      converged =
          std::abs(FPrevRow - FRow) < threshold && std::abs(FPrevColumn - FColumn) < threshold;
    }

    double Srr = 0, Scc = 0, Src = 0, Srrr = 0, Sccr = 0, Srrc = 0, Sccc = 0;
    ForExpanded(height, width, [&](int r, int c) {
      const int j = Bp.Row24(r)[c].rgbtBlue;
      if (j != 0) {
        const double dr = r - FRow, dc = c - FColumn;
        Srr += j * dr * dr;
        Scc += j * dc * dc;
        Src += static_cast<double>(std::int64_t{j} * (c - FColumn) * (r - FRow));
        Srrr += j * dr * dr * dr;
        Sccr += j * dc * dc * dr;
        Srrc += j * dr * dr * dc;
        Sccc += j * dc * dc * dc;
      }
    });

    const double ratio = FP.HeightToWidthRatio;
    bool lost = true;
    if (ratio > 0 && std::isfinite(ratio)) {
      const double P = static_cast<double>(RoundHalfEven(std::sqrt(M0 / 255)));
      const double phi = std::atan(1 / ratio);
      const double alpha = std::fabs(std::fabs(theta) - phi);
      const double D = std::sqrt(P * P + (P * ratio) * (P * ratio));
      const double w = D * std::sin(alpha + phi), h = D * std::cos(alpha);
      if (w <= (1 << 24) && h <= (1 << 24)) {
        const std::int64_t nw = RoundHalfEven(w), nh = RoundHalfEven(h);
        FWindow.Left = FColumn - static_cast<std::int32_t>(nw / 2);
        FWindow.Top = FRow - static_cast<std::int32_t>(nh / 2);
        FWindow.Right = FWindow.Left + static_cast<std::int32_t>(nw);
        FWindow.Bottom = FWindow.Top + static_cast<std::int32_t>(nh);
        lost = nw * nh < FP.LoseTrackArea;
      }
    }
    if (lost) {
      GoHome();
    }

    Result.Angle = Angle(Src, Srr, Scc);
    Result.HuMoment1 = Result.HuMoment2 = Result.HuMoment3 = Result.HuMoment4 = 0;
    if (M0 != 0) {
      const double nrr = Srr / (M0 * M0), ncc = Scc / (M0 * M0), nrc = Src / (M0 * M0);
      const double m25 = std::pow(M0, 2.5);
      const double nrrr = Srrr / m25, nccr = Sccr / m25, nrrc = Srrc / m25, nccc = Sccc / m25;
      Result.HuMoment1 = (nrr + ncc) * 1e8;
      Result.HuMoment2 = ((nrr - ncc) * (nrr - ncc) + 4 * nrc * nrc) * 1e8;
      Result.HuMoment3 =
          ((nrrr - 3 * nccr) * (nrrr - 3 * nccr) + (3 * nrrc - nccc) * (3 * nrrc - nccc)) * 1e8;
      Result.HuMoment4 = ((nrrr + nccr) * (nrrr + nccr) + (nrrc + nccc) * (nrrc + nccc)) * 1e8;
    }
    Result.CentreRow = FRow;
    Result.CentreColumn = FColumn;
    Result.Window = FWindow;
    Result.HueImage = &Hue;
    Result.BackProjectionImage = &Bp;
  }

 private:
  static double Angle(double Src, double Srr, double Scc) {
    const double y = 2 * Src, x = Srr - Scc;
    if (y == 0 && x == 0) {
      return 0;
    }
    const double n = std::sqrt(y * y + x * x);
    return std::atan2(y / n, x / n) / 2;
  }

  template <typename F>
  void ForExpanded(int Height, int Width, F&& Visit) const {
    const std::int64_t e = FP.WindowExpansion;
    const std::int64_t firstRow = std::max<std::int64_t>(1, std::int64_t{FWindow.Top} - e);
    const std::int64_t lastRow =
        std::min<std::int64_t>(Height - 1, std::int64_t{FWindow.Bottom} - 1 + e);
    const std::int64_t firstColumn = std::max<std::int64_t>(1, std::int64_t{FWindow.Left} - e);
    const std::int64_t lastColumn =
        std::min<std::int64_t>(Width - 1, std::int64_t{FWindow.Right} - 1 + e);
    for (std::int64_t r = firstRow; r <= lastRow; ++r) {
      for (std::int64_t c = firstColumn; c <= lastColumn; ++c) {
        Visit(static_cast<int>(r), static_cast<int>(c));
      }
    }
  }

  void GoHome() {
    FWindow = FHome;
    FRow = (FHome.Bottom - FHome.Top) / 2;
    FColumn = (FHome.Right - FHome.Left) / 2;
  }

  TRect FHome, FWindow;
  TTrackerParameters FP;
  std::int32_t FRow = 0, FColumn = 0, FPrevRow = 0, FPrevColumn = 0;
};

}  // namespace pavrel::test
