#include "detector/PalmDecoding.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pavrel::palm {

const std::vector<TAnchor>& Anchors() {
  static const std::vector<TAnchor> Table = [] {
    std::vector<TAnchor> All;
    All.reserve(AnchorCount);
    // (grid cells a side, anchors a cell): stride 8 once, stride 16 three times.
    constexpr std::array<std::array<int, 2>, 2> Grids{{{InputSize / 8, 2}, {InputSize / 16, 6}}};
    for (const auto& [Cells, PerCell] : Grids)
      for (int Y = 0; Y < Cells; ++Y)
        for (int X = 0; X < Cells; ++X)
          for (int K = 0; K < PerCell; ++K)
            All.push_back({(X + 0.5f) / Cells, (Y + 0.5f) / Cells});
    return All;
  }();
  return Table;
}

TLetterbox LetterboxFor(int Width, int Height) {
  const int Side = std::max(Width, Height);
  return {static_cast<float>(Side), static_cast<float>((Side - Width) / 2),
          static_cast<float>((Side - Height) / 2)};
}

std::vector<THandDetection> Decode(std::span<const float> RawBoxes,
                                   std::span<const float> RawScores, const TLetterbox& Box,
                                   float MinScore) {
  if (RawBoxes.size() != AnchorCount * ValuesPerBox || RawScores.size() != AnchorCount)
    throw std::invalid_argument("palm detector output has the wrong size");
  const auto& All = Anchors();
  std::vector<THandDetection> Out;
  for (std::size_t I = 0; I < AnchorCount; ++I) {
    const float Logit = std::clamp(RawScores[I], -100.0f, 100.0f);
    const float Score = 1.0f / (1.0f + std::exp(-Logit));
    if (Score < MinScore)
      continue;
    const float* R = RawBoxes.data() + I * ValuesPerBox;
    // Offsets are in input pixels; anchors are fractions of the input side.
    auto ToFrameX = [&](float V) { return (V / InputSize + All[I].X) * Box.Side - Box.Left; };
    auto ToFrameY = [&](float V) { return (V / InputSize + All[I].Y) * Box.Side - Box.Top; };
    const float HalfW = R[2] / InputSize / 2 * Box.Side;
    const float HalfH = R[3] / InputSize / 2 * Box.Side;
    THandDetection D;
    D.Score = Score;
    D.XMin = ToFrameX(R[0]) - HalfW;
    D.XMax = ToFrameX(R[0]) + HalfW;
    D.YMin = ToFrameY(R[1]) - HalfH;
    D.YMax = ToFrameY(R[1]) + HalfH;
    for (std::size_t K = 0; K < D.Keypoints.size(); ++K)
      D.Keypoints[K] = {ToFrameX(R[4 + 2 * K]), ToFrameY(R[5 + 2 * K])};
    Out.push_back(D);
  }
  return Out;
}

float IntersectionOverUnion(const THandDetection& A, const THandDetection& B) {
  const float W = std::min(A.XMax, B.XMax) - std::max(A.XMin, B.XMin);
  const float H = std::min(A.YMax, B.YMax) - std::max(A.YMin, B.YMin);
  const float Inter = std::max(W, 0.0f) * std::max(H, 0.0f);
  const float Union = A.Width() * A.Height() + B.Width() * B.Height() - Inter;
  return Union > 0 ? Inter / Union : 0.0f;
}

std::vector<THandDetection> SuppressOverlaps(std::vector<THandDetection> Candidates, float MinIou) {
  std::stable_sort(Candidates.begin(), Candidates.end(),
                   [](const auto& A, const auto& B) { return A.Score > B.Score; });
  std::vector<bool> Taken(Candidates.size(), false);
  std::vector<THandDetection> Out;
  for (std::size_t I = 0; I < Candidates.size(); ++I) {
    if (Taken[I])
      continue;
    const THandDetection& Best = Candidates[I];
    THandDetection Mean;
    Mean.Score = Best.Score;
    Mean.XMin = Mean.YMin = Mean.XMax = Mean.YMax = 0;
    float WeightSum = 0;
    std::vector<std::size_t> Group;
    for (std::size_t J = I; J < Candidates.size(); ++J)
      if (!Taken[J] && (J == I || IntersectionOverUnion(Best, Candidates[J]) > MinIou)) {
        Group.push_back(J);
        WeightSum += Candidates[J].Score;
      }
    for (std::size_t J : Group) {
      const THandDetection& C = Candidates[J];
      const float W = C.Score / WeightSum;
      Mean.XMin += W * C.XMin;
      Mean.YMin += W * C.YMin;
      Mean.XMax += W * C.XMax;
      Mean.YMax += W * C.YMax;
      for (std::size_t K = 0; K < Mean.Keypoints.size(); ++K) {
        Mean.Keypoints[K][0] += W * C.Keypoints[K][0];
        Mean.Keypoints[K][1] += W * C.Keypoints[K][1];
      }
      Taken[J] = true;
    }
    Out.push_back(Mean);
  }
  return Out;
}

}  // namespace pavrel::palm
