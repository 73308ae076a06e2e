#include "tracking/ColorLibrary.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "tracking/ColorKernels.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

namespace detail {
#ifdef PAVREL_AVX2_KERNELS
// ColorKernelsAvx2.cpp, built with -mavx2: call only after the CPU check below.
void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ConvertThresholdRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Hsv, std::uint8_t* Hue,
                                   std::uint8_t* Mask, std::uint8_t* Skin, int Count,
                                   const TSkinBounds& Bounds);
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

void RequireTwentyFourBit(const TBitmap& Source) {
  if (Source.PixelFormat() != TPixelFormat::pf24bit) {
    throw EColorError("GetImageSpace:  Bitmap must be 24-bit color.");
  }
}

std::uint8_t HueByte(std::int32_t H) {
  return static_cast<std::uint8_t>(RoundHalfEven(H / 360.0 * 255));
}

namespace {

// Division by a byte-sized divisor as a multiplication: floor(n / d) = (n * ceil(2^32 / d)) >> 32
// for every n below 2^17 and d below 2^9 (n * d < 2^32).
struct TTables {
  std::array<std::uint64_t, 256> SatMul{};  // divides by 2 V
  std::array<std::uint64_t, 256> HueMul{};  // divides by 2 D
  // The hue byte by sector (red, green, blue), sign of the numerator and q = MulDiv(|n|, 60, D).
  std::array<std::uint8_t, 6 * 61> HueBySector{};

  TTables() {
    for (std::uint64_t i = 1; i < 256; ++i) {
      SatMul[i] = ((1ull << 32) + 2 * i - 1) / (2 * i);
      HueMul[i] = SatMul[i];
    }
    for (int sector = 0; sector < 3; ++sector) {
      for (int negative = 0; negative < 2; ++negative) {
        for (int q = 0; q <= 60; ++q) {
          int h = 120 * sector + (negative ? -q : q);
          h += h < 0 ? 360 : 0;
          HueBySector[(2 * sector + negative) * 61 + q] = detail::HueByte(h);
        }
      }
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

inline int Max(int a, int b) {
  return a ^ ((a ^ b) & -(a < b));
}
inline int Min(int a, int b) {
  return b ^ ((a ^ b) & -(a < b));
}

}  // namespace

void ConvertRowPortable(const std::uint8_t* Source, std::uint8_t* Dest, int Count) {
  // Branch-free: camera noise makes the sector of neighbouring pixels unpredictable.
  static constexpr std::uint8_t First[3] = {1, 0, 2};  // numerator G - B, B - R, R - G
  static constexpr std::uint8_t Second[3] = {0, 2, 1};
  const TTables& t = Tables();
  for (int i = 0; i < Count; ++i, Source += 3, Dest += 3) {
    const int b = Source[0];
    const int g = Source[1];
    const int r = Source[2];
    const int v = Max(Max(r, g), b);
    const int d = v - Min(Min(r, g), b);
    // MulDiv(d, 255, v) = floor((510 d + v) / 2v); 0 when v (and so d) is 0.
    const std::uint64_t s = (static_cast<std::uint64_t>(510 * d + v) * t.SatMul[v]) >> 32;
    // The first channel equal to the maximum picks the sector. A grey pixel (d = 0) lands in
    // the red sector with numerator 0, which gives hue 0 as required.
    const int isRed = r == v;
    const int isGreen = (g == v) & (isRed ^ 1);
    const int sector = 2 - 2 * isRed - isGreen;
    const int n = Source[First[sector]] - Source[Second[sector]];
    const int negative = static_cast<int>(static_cast<unsigned>(n) >> 31);
    const int size = (n ^ -negative) + negative;
    // MulDiv(|n|, 60, d) = floor((120 |n| + d) / 2d); MulDiv rounds halves away from zero, so
    // a negative numerator gives the negated quotient.
    const std::uint64_t q = (static_cast<std::uint64_t>(120 * size + d) * t.HueMul[d]) >> 32;
    Dest[0] = static_cast<std::uint8_t>(v);
    Dest[1] = static_cast<std::uint8_t>(s);
    Dest[2] = t.HueBySector[static_cast<std::size_t>((2 * sector + negative) * 61) + q];
  }
}

void ConvertThresholdRowPortable(const std::uint8_t* Source, std::uint8_t* Hsv, std::uint8_t* Hue,
                                 std::uint8_t* Mask, std::uint8_t* Skin, int Count,
                                 const TSkinBounds& Bounds) {
  ConvertRowPortable(Source, Hsv, Count);
  for (int i = 0; i < Count; ++i, Hsv += 3, Hue += 3, Mask += 3) {
    const std::uint8_t v = Hsv[0];
    const std::uint8_t s = Hsv[1];
    const std::uint8_t h = Hsv[2];
    const bool skin = Bounds.LowHue <= h && h <= Bounds.HighHue && Bounds.LowSat <= s &&
                      s <= Bounds.HighSat && Bounds.LowVal <= v && v <= Bounds.HighVal;
    const std::uint8_t j = skin ? 255 : 0;
    Hue[0] = Hue[1] = Hue[2] = h;
    Mask[0] = Mask[1] = Mask[2] = j;
    Skin[i] = skin ? 1 : 0;
  }
}

TRowSums SumSkinRow(const std::uint8_t* Skin, int Count, bool Third) {
  // Eight pixels at a time: background words are skipped and solid skin is summed in closed
  // form; only the ragged edges go pixel by pixel.
  constexpr std::uint64_t AllSkin = 0x0101010101010101ull;
  TRowSums s;
  int j = 0;
  for (; j + 8 <= Count; j += 8) {
    std::uint64_t word;
    std::memcpy(&word, Skin + j, 8);
    if (word == 0) {
      continue;
    }
    const std::int64_t b = j;
    if (word == AllSkin) {
      // k = 0..7: sum k = 28, sum k^2 = 140, sum k^3 = 784.
      s.N += 8;
      s.J += 8 * b + 28;
      s.JJ += 8 * b * b + 56 * b + 140;
      if (Third) {
        s.JJJ += 8 * b * b * b + 84 * b * b + 420 * b + 784;
      }
      continue;
    }
    for (int k = 0; k < 8; ++k) {
      const std::int64_t bit = Skin[j + k];
      const std::int64_t c = b + k;
      s.N += bit;
      s.J += bit * c;
      s.JJ += bit * c * c;
      s.JJJ += Third ? bit * c * c * c : 0;
    }
  }
  for (; j < Count; ++j) {
    const std::int64_t bit = Skin[j];
    const std::int64_t c = j;
    s.N += bit;
    s.J += bit * c;
    s.JJ += bit * c * c;
    s.JJJ += Third ? bit * c * c * c : 0;
  }
  return s;
}

namespace {
bool CpuHasAvx2() {
#if defined(PAVREL_AVX2_KERNELS)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
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

TConvertThresholdRow ConvertThresholdRowAvx2() {
#if defined(PAVREL_AVX2_KERNELS)
  if (CpuHasAvx2()) {
    return &ConvertThresholdRowAvx2Kernel;
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

TConvertThresholdRow ConvertThresholdRow() {
  static const TConvertThresholdRow kernel = [] {
    Tables();
    const TConvertThresholdRow fast = ConvertThresholdRowAvx2();
    return fast ? fast : &ConvertThresholdRowPortable;
  }();
  return kernel;
}

}  // namespace detail

void GetImageSpace(std::uint8_t Space, bool Negative, const TBitmap& Source, TBitmap& Dest) {
  detail::RequireTwentyFourBit(Source);
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
