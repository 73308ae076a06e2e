#pragma once

// Row kernels behind GetImageSpace and the tracker's threshold. Each has a portable version
// and, on x86-64, an AVX2 one; all give the same bytes as the per-pixel routines.

#include <cstdint>

#include "image/Bitmap.h"

namespace pavrel::detail {

// Converts Count BGR pixels of Source into HSV pixels (hue byte, S, V in red, green, blue).
// Source and Dest may be the same row.
using TConvertRow = void (*)(const std::uint8_t* Source, std::uint8_t* Dest, int Count);

// Inclusive byte bounds of the skin test; Low > High accepts nothing.
struct TSkinBounds {
  std::uint8_t LowHue = 1, HighHue = 0;
  std::uint8_t LowSat = 1, HighSat = 0;
  std::uint8_t LowVal = 1, HighVal = 0;
};

// Converts Count BGR pixels like TConvertRow into Hsv and, in the same pass, writes for each
// pixel (h, h, h) into Hue, (255, 255, 255) or (0, 0, 0) into Mask and 1 or 0 into Skin (one
// byte a pixel).
using TConvertThresholdRow = void (*)(const std::uint8_t* Source, std::uint8_t* Hsv,
                                      std::uint8_t* Hue, std::uint8_t* Mask, std::uint8_t* Skin,
                                      int Count, const TSkinBounds& Bounds);

// Raises GetImageSpace's EColorError unless Source is a 24-bit bitmap.
void RequireTwentyFourBit(const TBitmap& Source);

// The hue byte of H degrees: H / 360 x 255, halves to even.
std::uint8_t HueByte(std::int32_t H);

void ConvertRowPortable(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ConvertThresholdRowPortable(const std::uint8_t* Source, std::uint8_t* Hsv, std::uint8_t* Hue,
                                 std::uint8_t* Mask, std::uint8_t* Skin, int Count,
                                 const TSkinBounds& Bounds);

// Sums over the pixels j = 0 .. Count - 1 of a row of 0/1 skin bytes: the number of skin
// pixels and the sums of j, j^2 and (with Third) j^3 over them.
struct TRowSums {
  std::int64_t N = 0, J = 0, JJ = 0, JJJ = 0;
};
TRowSums SumSkinRow(const std::uint8_t* Skin, int Count, bool Third);

// The kernels this CPU runs (AVX2 where present).
TConvertRow ConvertRow();
TConvertThresholdRow ConvertThresholdRow();

// The AVX2 kernels; null where the build or the CPU has no AVX2 and FMA.
TConvertRow ConvertRowAvx2();
TConvertThresholdRow ConvertThresholdRowAvx2();

}  // namespace pavrel::detail
