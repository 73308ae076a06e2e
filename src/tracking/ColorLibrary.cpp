#include "tracking/ColorLibrary.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "tracking/ColorKernels.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

namespace detail {
#ifdef PAVREL_AVX2_KERNELS
// ColorKernelsAvx2.cpp, built with -mavx2: call only after the CPU check below.
void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ThresholdRowAvx2Kernel(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask,
                            int Count, const TSkinBounds& Bounds);
#endif
}  // namespace detail

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  // As the platform routine: -1 for a zero divisor or a result beyond 32 bits.
  if (c == 0) {
    return -1;
  }
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const std::uint64_t num =
      product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  const std::uint64_t den = c < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(c))
                                  : static_cast<std::uint64_t>(c);
  std::uint64_t quotient = num / den;
  if (2 * (num % den) >= den) {
    ++quotient;  // halves away from zero
  }
  if (quotient > (negative ? 0x80000000ull : 0x7FFFFFFFull)) {
    return -1;
  }
  return negative ? static_cast<std::int32_t>(0 - quotient) : static_cast<std::int32_t>(quotient);
}

TRGBTriple MakeRGBTriple(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue) {
  TRGBTriple t;
  t.rgbtRed = Red;
  t.rgbtGreen = Green;
  t.rgbtBlue = Blue;
  return t;
}

TRGBTriple NegativeTriple(TRGBTriple Triple) {
  return MakeRGBTriple(static_cast<std::uint8_t>(255 - Triple.rgbtRed),
                       static_cast<std::uint8_t>(255 - Triple.rgbtGreen),
                       static_cast<std::uint8_t>(255 - Triple.rgbtBlue));
}

void RGBToHSV(TRGBTriple Triple, std::int32_t& H, std::int32_t& S, std::int32_t& V) {
  const std::int32_t r = Triple.rgbtRed;
  const std::int32_t g = Triple.rgbtGreen;
  const std::int32_t b = Triple.rgbtBlue;
  V = std::max({r, g, b});
  const std::int32_t d = V - std::min({r, g, b});
  S = V == 0 ? 0 : MulDiv(d, 255, V);
  if (S == 0) {
    H = 0;
    return;
  }
  if (r == V) {
    H = MulDiv(g - b, 60, d);
  } else if (g == V) {
    H = MulDiv(b - r, 60, d) + 120;
  } else {
    H = MulDiv(r - g, 60, d) + 240;
  }
  if (H < 0) {
    H += 360;
  }
}

namespace detail {

std::uint8_t HueByte(std::int32_t H) {
  return static_cast<std::uint8_t>(RoundHalfEven(H / 360.0 * 255));
}

namespace {

// Division by a byte-sized divisor as a multiplication: floor(n / d) = (n * ceil(2^32 / d)) >> 32
// for every n below 2^17 and d below 2^9 (n * d < 2^32).
struct TTables {
  std::array<std::uint64_t, 256> SatMul{};  // divides by 2 V
  std::array<std::uint64_t, 256> HueMul{};  // divides by 2 D
  std::array<std::uint8_t, 360> HueByte{};

  TTables() {
    for (std::uint64_t i = 1; i < 256; ++i) {
      SatMul[i] = ((1ull << 32) + 2 * i - 1) / (2 * i);
      HueMul[i] = SatMul[i];
    }
    for (int h = 0; h < 360; ++h) {
      HueByte[h] = detail::HueByte(h);
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

}  // namespace

void ConvertRowPortable(const std::uint8_t* Source, std::uint8_t* Dest, int Count) {
  const TTables& t = Tables();
  for (int i = 0; i < Count; ++i, Source += 3, Dest += 3) {
    const std::int32_t b = Source[0];
    const std::int32_t g = Source[1];
    const std::int32_t r = Source[2];
    const std::int32_t v = std::max(std::max(r, g), b);
    const std::int32_t d = v - std::min(std::min(r, g), b);
    // MulDiv(d, 255, v) = floor((510 d + v) / 2v); 0 when v (and so d) is 0.
    const std::uint64_t s = ((510 * d + v) * t.SatMul[v]) >> 32;
    // The first channel equal to the maximum picks the sector. A grey pixel (d = 0) lands in
    // the red sector with numerator 0, which gives hue 0 as required.
    const bool isRed = r == v;
    const bool isGreen = !isRed && g == v;
    const std::int32_t n = isRed ? g - b : (isGreen ? b - r : r - g);
    const std::int32_t offset = isRed ? 0 : (isGreen ? 120 : 240);
    // MulDiv(|n|, 60, d) = floor((120 |n| + d) / 2d), mirrored for negative n.
    const std::int32_t an = std::abs(n);
    const std::int32_t q = static_cast<std::int32_t>(((120 * an + d) * t.HueMul[d]) >> 32);
    std::int32_t h = offset + (n < 0 ? -q : q);
    h += h < 0 ? 360 : 0;
    Dest[0] = static_cast<std::uint8_t>(v);
    Dest[1] = static_cast<std::uint8_t>(s);
    Dest[2] = t.HueByte[h];
  }
}

void ThresholdRowPortable(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask, int Count,
                          const TSkinBounds& Bounds) {
  for (int i = 0; i < Count; ++i, Hsv += 3, Hue += 3, Mask += 3) {
    const std::uint8_t v = Hsv[0];
    const std::uint8_t s = Hsv[1];
    const std::uint8_t h = Hsv[2];
    const bool skin = Bounds.LowHue <= h && h <= Bounds.HighHue && Bounds.LowSat <= s &&
                      s <= Bounds.HighSat && Bounds.LowVal <= v && v <= Bounds.HighVal;
    const std::uint8_t j = skin ? 255 : 0;
    Hue[0] = Hue[1] = Hue[2] = h;
    Mask[0] = Mask[1] = Mask[2] = j;
  }
}

namespace {
bool CpuHasAvx2() {
#if defined(PAVREL_AVX2_KERNELS)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}
}  // namespace

TConvertRow ConvertRowAvx2() {
#if defined(PAVREL_AVX2_KERNELS)
  if (CpuHasAvx2()) {
    return &ConvertRowAvx2Kernel;
  }
#endif
  return nullptr;
}

TThresholdRow ThresholdRowAvx2() {
#if defined(PAVREL_AVX2_KERNELS)
  if (CpuHasAvx2()) {
    return &ThresholdRowAvx2Kernel;
  }
#endif
  return nullptr;
}

TConvertRow ConvertRow() {
  static const TConvertRow kernel = [] {
    Tables();  // built before any frame thread needs them
    const TConvertRow fast = ConvertRowAvx2();
    return fast ? fast : &ConvertRowPortable;
  }();
  return kernel;
}

TThresholdRow ThresholdRow() {
  static const TThresholdRow kernel = [] {
    const TThresholdRow fast = ThresholdRowAvx2();
    return fast ? fast : &ThresholdRowPortable;
  }();
  return kernel;
}

}  // namespace detail

void GetImageSpace(std::uint8_t Space, bool Negative, const TBitmap& Source, TBitmap& Dest) {
  if (Source.PixelFormat() != TPixelFormat::pf24bit) {
    throw EColorError("GetImageSpace:  Bitmap must be 24-bit color.");
  }
  const int width = Source.Width();
  const int height = Source.Height();
  Dest.SetWidth(width);
  Dest.SetHeight(height);
  Dest.SetPixelFormat(Source.PixelFormat());
  if (Space == isHSV) {
    const detail::TConvertRow convert = detail::ConvertRow();
    for (int r = 0; r < height; ++r) {
      convert(Source.ScanLine(r), Dest.ScanLine(r), width);
    }
  }
  if (Negative) {
    for (int r = 0; r < height; ++r) {
      std::uint8_t* row = Dest.ScanLine(r);
      for (int i = 0; i < 3 * width; ++i) {
        row[i] = static_cast<std::uint8_t>(255 - row[i]);
      }
    }
  }
}

}  // namespace pavrel
