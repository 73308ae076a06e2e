#pragma once

// Row kernels behind GetImageSpace and the tracker's threshold. Each has a portable version
// and, on x86-64, an AVX2 one; all give the same bytes as the per-pixel routines.

#include <cstdint>

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

// For Count HSV pixels: writes (h, h, h) into Hue and (255, 255, 255) or (0, 0, 0) into Mask.
using TThresholdRow = void (*)(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask,
                               int Count, const TSkinBounds& Bounds);

// The hue byte of H degrees: H / 360 x 255, halves to even.
std::uint8_t HueByte(std::int32_t H);

void ConvertRowPortable(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ThresholdRowPortable(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask, int Count,
                          const TSkinBounds& Bounds);

// The kernels this CPU runs (AVX2 where present).
TConvertRow ConvertRow();
TThresholdRow ThresholdRow();

// The AVX2 kernels; null where the build or the CPU has no AVX2.
TConvertRow ConvertRowAvx2();
TThresholdRow ThresholdRowAvx2();

}  // namespace pavrel::detail
