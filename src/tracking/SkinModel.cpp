#include "tracking/SkinModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <stdexcept>

namespace pavrel {

namespace {

constexpr int Bins = TSkinExamples::Bins;

// Luma and the two chroma differences of BT.601, full range, as whole levels.
void YCrCb(int Red, int Green, int Blue, int& Y, int& Cr, int& Cb) {
  Y = (299 * Red + 587 * Green + 114 * Blue + 500) / 1000;
  Cr = std::clamp((500000 * Red - 418688 * Green - 81312 * Blue) / 1000000 + 128, 0, 255);
  Cb = std::clamp((-168736 * Red - 331264 * Green + 500000 * Blue) / 1000000 + 128, 0, 255);
}

// Histogram smoothed over the 3 x 3 neighbouring bins, as shares of its total.
std::vector<double> SmoothedShares(const std::array<std::uint32_t, Bins * Bins>& Counts) {
  std::vector<double> out(Counts.size(), 0.0);
  double total = 0;
  for (int r = 0; r < Bins; ++r) {
    for (int c = 0; c < Bins; ++c) {
      double sum = 0;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int rr = r + dr;
          const int cc = c + dc;
          if (rr >= 0 && rr < Bins && cc >= 0 && cc < Bins) {
            sum +=
                Counts[static_cast<std::size_t>(rr * Bins + cc)] * ((dr == 0 && dc == 0) ? 4 : 1);
          }
        }
      }
      out[static_cast<std::size_t>(r * Bins + c)] = sum;
      total += sum;
    }
  }
  if (total > 0) {
    for (double& v : out) {
      v /= total;
    }
  }
  return out;
}

// The level below which Share of the counted pixels lie.
int Percentile(const std::array<std::uint32_t, 256>& Counts, double Share) {
  std::uint64_t total = 0;
  for (std::uint32_t c : Counts) {
    total += c;
  }
  const double wanted = Share * static_cast<double>(total);
  std::uint64_t seen = 0;
  for (int level = 0; level < 256; ++level) {
    seen += Counts[static_cast<std::size_t>(level)];
    if (static_cast<double>(seen) >= wanted && seen > 0) {
      return level;
    }
  }
  return 255;
}

}  // namespace

TChroma ChromaOf(TRGBTriple Pixel) {
  int y, cr, cb;
  YCrCb(Pixel.rgbtRed, Pixel.rgbtGreen, Pixel.rgbtBlue, y, cr, cb);
  return {(cr >> 3) * Bins + (cb >> 3), y};
}

void TSkinExamples::Add(bool IsSkin, TRGBTriple Pixel) {
  const TChroma chroma = ChromaOf(Pixel);
  if (IsSkin) {
    ++Skin[static_cast<std::size_t>(chroma.Bin)];
    ++SkinLuma[static_cast<std::size_t>(chroma.Luma)];
  } else {
    ++Background[static_cast<std::size_t>(chroma.Bin)];
  }
}

std::uint64_t TSkinExamples::SkinCount() const {
  std::uint64_t n = 0;
  for (std::uint32_t c : Skin) {
    n += c;
  }
  return n;
}

std::uint64_t TSkinExamples::BackgroundCount() const {
  std::uint64_t n = 0;
  for (std::uint32_t c : Background) {
    n += c;
  }
  return n;
}

std::string TSkinExamples::ToText() const {
  std::string text = "skinmodel 1";
  const auto put = [&text](char Kind, std::size_t Index, std::uint32_t Count) {
    if (Count != 0) {
      text += ' ';
      text += Kind;
      text += ':' + std::to_string(Index) + ':' + std::to_string(Count);
    }
  };
  for (std::size_t i = 0; i < Skin.size(); ++i) {
    put('S', i, Skin[i]);
  }
  for (std::size_t i = 0; i < Background.size(); ++i) {
    put('B', i, Background[i]);
  }
  for (std::size_t i = 0; i < SkinLuma.size(); ++i) {
    put('Y', i, SkinLuma[i]);
  }
  return text;
}

std::optional<TSkinExamples> TSkinExamples::FromText(std::string_view Text) {
  constexpr std::string_view header = "skinmodel 1";
  if (Text.substr(0, header.size()) != header) {
    return std::nullopt;
  }
  TSkinExamples examples;
  std::size_t at = header.size();
  while (at < Text.size()) {
    if (Text[at] != ' ' || at + 1 >= Text.size()) {
      return std::nullopt;
    }
    const char kind = Text[at + 1];
    const char* p = Text.data() + at + 2;
    const char* end = Text.data() + Text.size();
    std::size_t index = 0;
    std::uint32_t count = 0;
    if (p >= end || *p != ':') {
      return std::nullopt;
    }
    auto r = std::from_chars(p + 1, end, index);
    if (r.ec != std::errc{} || r.ptr >= end || *r.ptr != ':') {
      return std::nullopt;
    }
    r = std::from_chars(r.ptr + 1, end, count);
    if (r.ec != std::errc{} || count == 0) {
      return std::nullopt;
    }
    std::uint32_t* slot = nullptr;
    if (kind == 'S' && index < examples.Skin.size()) {
      slot = &examples.Skin[index];
    } else if (kind == 'B' && index < examples.Background.size()) {
      slot = &examples.Background[index];
    } else if (kind == 'Y' && index < examples.SkinLuma.size()) {
      slot = &examples.SkinLuma[index];
    }
    if (slot == nullptr || *slot != 0) {
      return std::nullopt;
    }
    *slot = count;
    at = static_cast<std::size_t>(r.ptr - Text.data());
  }
  return examples;
}

TSkinModel::TSkinModel(const TSkinExamples& Examples)
    : FExamples(Examples), FTable(std::size_t{1} << 15, 0) {
  if (Examples.SkinCount() == 0) {
    return;
  }
  const std::vector<double> skin = SmoothedShares(Examples.Skin);
  const std::vector<double> background = SmoothedShares(Examples.Background);
  // Brightness: shading across the hand and a moving hand make the learned range wider
  // than the calibration frame's.
  const int low = Percentile(Examples.SkinLuma, 0.02);
  const int high = Percentile(Examples.SkinLuma, 0.98);
  FLowLuma = std::max(8, low / 2);
  FHighLuma = std::min(255, high + (255 - high) / 2 + 16);
  const double floor = 1e-4;
  for (unsigned i = 0; i < FTable.size(); ++i) {
    const TRGBTriple cell{static_cast<std::uint8_t>(((i & 31u) << 3) | 4u),
                          static_cast<std::uint8_t>((((i >> 5) & 31u) << 3) | 4u),
                          static_cast<std::uint8_t>((((i >> 10) & 31u) << 3) | 4u)};
    const TChroma chroma = ChromaOf(cell);
    if (chroma.Luma < FLowLuma || chroma.Luma > FHighLuma) {
      continue;
    }
    const double s = skin[static_cast<std::size_t>(chroma.Bin)];
    const double b = background[static_cast<std::size_t>(chroma.Bin)];
    if (s > floor && s > LikelihoodRatio * b) {
      FTable[i] = 1;
    }
  }
}

void TSkinModel::ClassifyRow(const std::uint8_t* Source, std::uint8_t* Skin, int Count) const {
  const std::uint8_t* table = FTable.data();
  for (int i = 0; i < Count; ++i) {
    const std::uint8_t* p = Source + 3 * i;
    Skin[i] = table[(static_cast<unsigned>(p[2] >> 3) << 10) |
                    (static_cast<unsigned>(p[1] >> 3) << 5) | (p[0] >> 3)];
  }
}

THandRegion GrowHandRegion(const TBitmap& Frame, int Column, int Row) {
  if (Frame.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("Hand calibration needs a 24-bit frame");
  }
  const int width = Frame.Width();
  const int height = Frame.Height();
  if (Column < 0 || Row < 0 || Column >= width || Row >= height) {
    throw std::invalid_argument("The calibration point (" + std::to_string(Column) + ", " +
                                std::to_string(Row) + ") lies outside the " +
                                std::to_string(width) + " x " + std::to_string(height) +
                                " picture");
  }
  THandRegion region;
  region.Width = width;
  region.Height = height;
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  region.Mask.assign(size, 0);
  std::vector<int> y(size), cr(size), cb(size);
  for (int r = 0; r < height; ++r) {
    const TRGBTriple* row = Frame.Row24(r);
    for (int c = 0; c < width; ++c) {
      const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(c);
      YCrCb(row[c].rgbtRed, row[c].rgbtGreen, row[c].rgbtBlue, y[i], cr[i], cb[i]);
    }
  }
  // The click's colour: the median-ish mean of its 3 x 3 neighbourhood.
  double y0 = 0, cr0 = 0, cb0 = 0;
  int n0 = 0;
  for (int r = std::max(0, Row - 1); r <= std::min(height - 1, Row + 1); ++r) {
    for (int c = std::max(0, Column - 1); c <= std::min(width - 1, Column + 1); ++c) {
      const std::size_t i = static_cast<std::size_t>(r * width + c);
      y0 += y[i];
      cr0 += cr[i];
      cb0 += cb[i];
      ++n0;
    }
  }
  y0 /= n0;
  cr0 /= n0;
  cb0 /= n0;
  const int maxCount =
      std::max(1, static_cast<int>(MaxHandRegionShare * static_cast<double>(size)));
  // Chroma stays near the click's; brightness may vary with shading but not jump at an edge.
  constexpr double ChromaTolerance = 12;
  constexpr double LumaTolerance = 70;
  constexpr int LumaStep = 30;
  const auto similar = [&](std::size_t i) {
    return std::abs(cr[i] - cr0) <= ChromaTolerance && std::abs(cb[i] - cb0) <= ChromaTolerance &&
           std::abs(y[i] - y0) <= LumaTolerance;
  };
  std::deque<int> queue;
  const std::size_t start = static_cast<std::size_t>(Row * width + Column);
  region.Mask[start] = 1;
  queue.push_back(static_cast<int>(start));
  region.Count = 1;
  int left = Column, right = Column, top = Row, bottom = Row;
  while (!queue.empty() && region.Count < maxCount) {
    const int i = queue.front();
    queue.pop_front();
    const int r = i / width;
    const int c = i % width;
    const int neighbours[4][2] = {{r - 1, c}, {r + 1, c}, {r, c - 1}, {r, c + 1}};
    for (const auto& n : neighbours) {
      if (n[0] < 0 || n[0] >= height || n[1] < 0 || n[1] >= width) {
        continue;
      }
      const std::size_t j = static_cast<std::size_t>(n[0] * width + n[1]);
      if (region.Mask[j] != 0 || !similar(j) ||
          std::abs(y[j] - y[static_cast<std::size_t>(i)]) > LumaStep) {
        continue;
      }
      region.Mask[j] = 1;
      ++region.Count;
      left = std::min(left, n[1]);
      right = std::max(right, n[1]);
      top = std::min(top, n[0]);
      bottom = std::max(bottom, n[0]);
      queue.push_back(static_cast<int>(j));
      if (region.Count >= maxCount) {
        break;
      }
    }
  }
  region.Box = {left, top, right + 1, bottom + 1};
  return region;
}

void AddCalibrationExamples(const TBitmap& Frame, const THandRegion& Region,
                            TSkinExamples& Examples) {
  if (Frame.Width() != Region.Width || Frame.Height() != Region.Height ||
      Frame.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("The hand region does not match the frame");
  }
  // Pixels near the region's edge may be either; they are left out.
  constexpr int Margin = 4;
  const int width = Region.Width;
  const int height = Region.Height;
  std::vector<std::uint8_t> nearRows(Region.Mask.size(), 0);
  for (int r = 0; r < height; ++r) {
    int last = -1000;
    for (int c = 0; c < width; ++c) {
      if (Region.Mask[static_cast<std::size_t>(r * width + c)]) {
        last = c;
      }
      if (c - last <= Margin) {
        nearRows[static_cast<std::size_t>(r * width + c)] = 1;
      }
    }
    last = 1000000;
    for (int c = width - 1; c >= 0; --c) {
      if (Region.Mask[static_cast<std::size_t>(r * width + c)]) {
        last = c;
      }
      if (last - c <= Margin) {
        nearRows[static_cast<std::size_t>(r * width + c)] = 1;
      }
    }
  }
  for (int r = 0; r < height; ++r) {
    const TRGBTriple* row = Frame.Row24(r);
    for (int c = 0; c < width; ++c) {
      const std::size_t i = static_cast<std::size_t>(r * width + c);
      if (Region.Mask[i]) {
        Examples.Add(true, row[c]);
        continue;
      }
      bool near = false;
      for (int rr = std::max(0, r - Margin); rr <= std::min(height - 1, r + Margin) && !near;
           ++rr) {
        near = nearRows[static_cast<std::size_t>(rr * width + c)] != 0;
      }
      if (!near) {
        Examples.Add(false, row[c]);
      }
    }
  }
}

THandRegion CalibrateHand(const TBitmap& Frame, int Column, int Row, TSkinExamples& Examples) {
  const THandRegion region = GrowHandRegion(Frame, Column, Row);
  AddCalibrationExamples(Frame, region, Examples);
  return region;
}

}  // namespace pavrel
