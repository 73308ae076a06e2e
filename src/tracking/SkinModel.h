#pragma once

// A colour model learned from one hand and its room: skin and not-skin examples counted in
// two Cr-Cb histograms and a brightness histogram of the skin, compiled into a table indexed
// by the pixel's colour (5 bits a channel) so the per-frame test is one look-up.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// Colour examples gathered by hand calibration; added to by each calibration click.
struct TSkinExamples {
  static constexpr int Bins = 32;  // per chroma axis, 8 levels a bin
  std::array<std::uint32_t, Bins * Bins> Skin{};
  std::array<std::uint32_t, Bins * Bins> Background{};
  std::array<std::uint32_t, 256> SkinLuma{};

  void Add(bool IsSkin, TRGBTriple Pixel);
  std::uint64_t SkinCount() const;
  std::uint64_t BackgroundCount() const;

  // One line of text: "skinmodel 1 " then the non-zero bins as S:bin:count, B:bin:count and
  // Y:level:count. FromText answers nothing for text it cannot read whole.
  std::string ToText() const;
  static std::optional<TSkinExamples> FromText(std::string_view Text);
  friend bool operator==(const TSkinExamples&, const TSkinExamples&) = default;
};

// Chroma bin (Cr row, Cb column) and luma of a pixel, BT.601 full range.
struct TChroma {
  int Bin = 0;
  int Luma = 0;
};
TChroma ChromaOf(TRGBTriple Pixel);

class TSkinModel {
 public:
  // Compiles the table. Examples without skin give a model that accepts nothing.
  explicit TSkinModel(const TSkinExamples& Examples);

  bool IsSkin(TRGBTriple Pixel) const {
    return FTable[(static_cast<unsigned>(Pixel.rgbtRed >> 3) << 10) |
                  (static_cast<unsigned>(Pixel.rgbtGreen >> 3) << 5) | (Pixel.rgbtBlue >> 3)] != 0;
  }
  // Marks Count BGR pixels: 1 skin, 0 not.
  void ClassifyRow(const std::uint8_t* Source, std::uint8_t* Skin, int Count) const;

  const TSkinExamples& Examples() const { return FExamples; }
  int LowLuma() const { return FLowLuma; }
  int HighLuma() const { return FHighLuma; }

  // A colour is skin when its smoothed skin share exceeds the not-skin share this many times.
  static constexpr double LikelihoodRatio = 2.0;

 private:
  TSkinExamples FExamples;
  int FLowLuma = 256;
  int FHighLuma = -1;
  std::vector<std::uint8_t> FTable;  // 32768 entries, red, green, blue 5 bits each
};

// The hand's region grown from a click: 4-connected pixels whose colour stays near the
// click's, bounded in size. Mask holds 1 for the region, one byte a pixel.
struct THandRegion {
  std::vector<std::uint8_t> Mask;
  int Width = 0;
  int Height = 0;
  int Count = 0;
  TRect Box;  // Right and Bottom exclusive; empty when Count is 0
};

// At most this share of the picture is taken as the hand.
inline constexpr double MaxHandRegionShare = 0.2;

// Raises std::invalid_argument for a frame that is not 24-bit or a point outside it.
THandRegion GrowHandRegion(const TBitmap& Frame, int Column, int Row);

// Adds the region as skin and the picture away from it as not-skin.
void AddCalibrationExamples(const TBitmap& Frame, const THandRegion& Region,
                            TSkinExamples& Examples);

// Hand calibration: the region grown from the click at (Column, Row) and the rest of the
// picture added to Examples. Answers the grown region.
// Raises std::invalid_argument as GrowHandRegion.
THandRegion CalibrateHand(const TBitmap& Frame, int Column, int Row, TSkinExamples& Examples);

}  // namespace pavrel
