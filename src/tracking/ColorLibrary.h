#pragma once

#include <cstdint>
#include <stdexcept>

#include "image/Bitmap.h"

namespace pavrel {

class EColorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Colour-space codes; only isHSV is converted.
constexpr std::uint8_t isHSV = 7;

// a * b / c with a 64-bit intermediate, rounded to nearest with halves away from zero.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

TRGBTriple MakeRGBTriple(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue);
TRGBTriple NegativeTriple(TRGBTriple Triple);

// Hue in whole degrees 0..359, saturation and value 0..255.
void RGBToHSV(TRGBTriple Triple, std::int32_t& H, std::int32_t& S, std::int32_t& V);

// Converts a 24-bit Source into Dest (resized to match): red byte = hue byte
// (degrees x 255 / 360, halves to even), green = saturation, blue = value.
// Raises EColorError "GetImageSpace:  Bitmap must be 24-bit color." for other formats.
void GetImageSpace(std::uint8_t Space, bool Negative, const TBitmap& Source, TBitmap& Dest);

}  // namespace pavrel
