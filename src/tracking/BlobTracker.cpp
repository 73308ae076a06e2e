#include "tracking/BlobTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pavrel {

namespace {

// Chamfer steps of the distance transform: 3 along a row or column, 4 diagonally.
constexpr int Straight = 3;
constexpr int Diagonal = 4;
// Candidates for the palm lie at least this share of the deepest point's depth inside.
constexpr double DeepShare = 0.6;
// Each pixel of distance from the entry edge is worth this much depth.
constexpr double EntryWeight = 0.15;
// A blob that touches an edge with fewer pixels than this did not enter through it.
constexpr int MinEntryPixels = 3;
// The window reaches this many palm radii from the palm.
constexpr double WindowRadii = 2.6;
// A tracked blob must keep this many pixels inside the last window (grown by Slack).
constexpr int Slack = 6;

std::int32_t Find(std::vector<std::int32_t>& Parent, std::int32_t i) {
  while (Parent[static_cast<std::size_t>(i)] != i) {
    Parent[static_cast<std::size_t>(i)] =
        Parent[static_cast<std::size_t>(Parent[static_cast<std::size_t>(i)])];
    i = Parent[static_cast<std::size_t>(i)];
  }
  return i;
}

}  // namespace

double MomentOrientation(double Src, double Srr, double Scc) {
  const double y = 2 * Src;
  const double x = Srr - Scc;
  if (y == 0 && x == 0) {
    return 0;
  }
  const double norm = std::sqrt(y * y + x * x);
  return std::atan2(y / norm, x / norm) / 2;
}

std::array<double, 4> HuInvariants(const TMaskMoments& m) {
  std::array<double, 4> hu{};
  if (m.M0 <= 0) {
    return hu;
  }
  const double m2 = m.M0 * m.M0;
  const double m25 = std::pow(m.M0, 2.5);
  const double nrr = m.Srr / m2;
  const double ncc = m.Scc / m2;
  const double nrc = m.Src / m2;
  const double nrrr = m.Srrr / m25;
  const double nccr = m.Sccr / m25;
  const double nrrc = m.Srrc / m25;
  const double nccc = m.Sccc / m25;
  const double a = nrrr - 3 * nccr;
  const double b = 3 * nrrc - nccc;
  const double c = nrrr + nccr;
  const double d = nrrc + nccc;
  hu[0] = (nrr + ncc) * 1e8;
  hu[1] = ((nrr - ncc) * (nrr - ncc) + 4 * nrc * nrc) * 1e8;
  hu[2] = (a * a + b * b) * 1e8;
  hu[3] = (c * c + d * d) * 1e8;
  return hu;
}

void TBlobTracker::Reset() {
  FLost = true;
}

int TBlobTracker::Label(const std::uint8_t* Skin, int Width, int Height) {
  const std::size_t size = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height);
  FLabels.assign(size, -1);
  FParent.clear();
  for (int r = 0; r < Height; ++r) {
    const std::size_t row = static_cast<std::size_t>(r) * static_cast<std::size_t>(Width);
    for (int c = 0; c < Width; ++c) {
      const std::size_t i = row + static_cast<std::size_t>(c);
      if (Skin[i] == 0) {
        continue;
      }
      const std::int32_t up = r > 0 ? FLabels[i - static_cast<std::size_t>(Width)] : -1;
      const std::int32_t left = c > 0 ? FLabels[i - 1] : -1;
      if (up < 0 && left < 0) {
        FLabels[i] = static_cast<std::int32_t>(FParent.size());
        FParent.push_back(FLabels[i]);
      } else if (up >= 0 && left >= 0) {
        const std::int32_t a = Find(FParent, up);
        const std::int32_t b = Find(FParent, left);
        const std::int32_t low = std::min(a, b);
        FParent[static_cast<std::size_t>(a)] = low;
        FParent[static_cast<std::size_t>(b)] = low;
        FLabels[i] = low;
      } else {
        FLabels[i] = std::max(up, left);
      }
    }
  }
  // Compact numbering of the roots, and each blob's figures.
  std::vector<std::int32_t> compact(FParent.size(), -1);
  FBlobs.clear();
  for (std::size_t l = 0; l < FParent.size(); ++l) {
    const std::int32_t root = Find(FParent, static_cast<std::int32_t>(l));
    if (compact[static_cast<std::size_t>(root)] < 0) {
      compact[static_cast<std::size_t>(root)] = static_cast<std::int32_t>(FBlobs.size());
      FBlobs.emplace_back();
    }
    compact[l] = compact[static_cast<std::size_t>(root)];
  }
  const TRect near{FWindow.Left - Slack, FWindow.Top - Slack, FWindow.Right + Slack,
                   FWindow.Bottom + Slack};
  for (int r = 0; r < Height; ++r) {
    const std::size_t row = static_cast<std::size_t>(r) * static_cast<std::size_t>(Width);
    for (int c = 0; c < Width; ++c) {
      std::int32_t& label = FLabels[row + static_cast<std::size_t>(c)];
      if (label < 0) {
        continue;
      }
      label = compact[static_cast<std::size_t>(label)];
      TBlob& b = FBlobs[static_cast<std::size_t>(label)];
      if (b.Area == 0) {
        b.Top = b.Bottom = r;
        b.Left = b.Right = c;
      }
      ++b.Area;
      b.Bottom = r;
      b.Left = std::min(b.Left, c);
      b.Right = std::max(b.Right, c);
      if (!FLost && r >= near.Top && r < near.Bottom && c >= near.Left && c < near.Right) {
        ++b.Overlap;
      }
      b.Edge[0] += r == 0;
      b.Edge[1] += r == Height - 1;
      b.Edge[2] += c == 0;
      b.Edge[3] += c == Width - 1;
    }
  }
  return static_cast<int>(FBlobs.size());
}

bool TBlobTracker::HandLike(const TBlob& Blob, int Width, int Height) const {
  const double picture = static_cast<double>(Width) * Height;
  return Blob.Area >= MinShare * picture && Blob.Area <= MaxShare * picture;
}

TPoint TBlobTracker::Palm(int Blob, int Width, int Height, double& Radius) {
  const TBlob& b = FBlobs[static_cast<std::size_t>(Blob)];
  // The distance transform over the blob's box; outside the blob and outside the picture
  // count as background.
  const int w = b.Right - b.Left + 1;
  const int h = b.Bottom - b.Top + 1;
  FDistance.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  const auto at = [&](int r, int c) -> std::int32_t& {
    return FDistance[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) +
                     static_cast<std::size_t>(c)];
  };
  const auto inside = [&](int r, int c) {
    return FLabels[static_cast<std::size_t>(b.Top + r) * static_cast<std::size_t>(Width) +
                   static_cast<std::size_t>(b.Left + c)] == Blob;
  };
  const auto value = [&](int r, int c) -> std::int32_t {
    return (r < 0 || c < 0 || r >= h || c >= w) ? 0 : at(r, c);
  };
  constexpr std::int32_t Far = std::numeric_limits<std::int32_t>::max() / 4;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      if (!inside(r, c)) {
        continue;
      }
      std::int32_t d = Far;
      d = std::min(d, value(r - 1, c) + Straight);
      d = std::min(d, value(r, c - 1) + Straight);
      d = std::min(d, value(r - 1, c - 1) + Diagonal);
      d = std::min(d, value(r - 1, c + 1) + Diagonal);
      at(r, c) = d;
    }
  }
  std::int32_t deepest = 0;
  for (int r = h - 1; r >= 0; --r) {
    for (int c = w - 1; c >= 0; --c) {
      if (!inside(r, c)) {
        continue;
      }
      std::int32_t d = at(r, c);
      d = std::min(d, value(r + 1, c) + Straight);
      d = std::min(d, value(r, c + 1) + Straight);
      d = std::min(d, value(r + 1, c + 1) + Diagonal);
      d = std::min(d, value(r + 1, c - 1) + Diagonal);
      at(r, c) = d;
      deepest = std::max(deepest, d);
    }
  }
  Radius = deepest / static_cast<double>(Straight);

  // The edge the forearm enters through: the one the blob touches most.
  int entry = -1;
  int entryPixels = MinEntryPixels - 1;
  for (int e = 0; e < 4; ++e) {
    if (b.Edge[static_cast<std::size_t>(e)] > entryPixels) {
      entry = e;
      entryPixels = b.Edge[static_cast<std::size_t>(e)];
    }
  }
  const bool awayFromEntry = FMethod == TPalmPoint::PalmDisc && entry >= 0;
  const double minDepth = DeepShare * deepest;
  double best = -1;
  TPoint palm{b.Top, b.Left};
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const std::int32_t d = at(r, c);
      if (d == 0 || (awayFromEntry && d < minDepth) || (!awayFromEntry && d < deepest)) {
        continue;
      }
      double score = d / static_cast<double>(Straight);
      if (awayFromEntry) {
        const int row = b.Top + r;
        const int column = b.Left + c;
        const int fromEdge = entry == 0   ? row
                             : entry == 1 ? Height - 1 - row
                             : entry == 2 ? column
                                          : Width - 1 - column;
        score += EntryWeight * fromEdge;
      } else if (!FLost) {
        // Among equally deep points, the one nearest the last palm keeps the point still.
        const double dr = b.Top + r - FHand.Row;
        const double dc = b.Left + c - FHand.Column;
        score -= 1e-3 * std::sqrt(dr * dr + dc * dc);
      }
      if (score > best) {
        best = score;
        palm = {b.Top + r, b.Left + c};
      }
    }
  }
  return palm;
}

TBlobResult TBlobTracker::Track(const std::uint8_t* Skin, int Width, int Height) {
  const int count = Label(Skin, Width, Height);
  int chosen = -1;
  if (!FLost) {
    // The blob that covers most of the last window, while it still looks like a hand.
    int most = 0;
    for (int i = 0; i < count; ++i) {
      if (FBlobs[static_cast<std::size_t>(i)].Overlap > most) {
        most = FBlobs[static_cast<std::size_t>(i)].Overlap;
        chosen = i;
      }
    }
    if (chosen >= 0 && !HandLike(FBlobs[static_cast<std::size_t>(chosen)], Width, Height)) {
      chosen = -1;
    }
  }
  if (chosen < 0) {
    // Lost: the largest hand-like blob of the whole picture.
    int largest = 0;
    for (int i = 0; i < count; ++i) {
      const TBlob& b = FBlobs[static_cast<std::size_t>(i)];
      if (HandLike(b, Width, Height) && b.Area > largest) {
        largest = b.Area;
        chosen = i;
      }
    }
  }
  double radius = 0;
  TPoint palm;
  if (chosen >= 0) {
    palm = Palm(chosen, Width, Height, radius);
    if (radius < MinRadius) {
      chosen = -1;
    }
  }

  TBlobResult result;
  if (chosen < 0) {
    FLost = true;
    result.Lost = true;
    result.Hand = FHand;
    result.Centre = {Height / 2, Width / 2};
    result.Window = {0, 0, Width, Height};
    FWindow = result.Window;
    return result;
  }

  const TBlob& blob = FBlobs[static_cast<std::size_t>(chosen)];
  if (FMethod == TPalmPoint::Centroid) {
    double sr = 0, sc = 0;
    for (int r = blob.Top; r <= blob.Bottom; ++r) {
      for (int c = blob.Left; c <= blob.Right; ++c) {
        if (FLabels[static_cast<std::size_t>(r * Width + c)] == chosen) {
          sr += r;
          sc += c;
        }
      }
    }
    palm = {static_cast<std::int32_t>(std::lround(sr / blob.Area)),
            static_cast<std::int32_t>(std::lround(sc / blob.Area))};
  }
  const int reach = std::max(2, static_cast<int>(std::lround(WindowRadii * radius)));
  TRect window{palm.Column - reach, palm.Row - reach, palm.Column + reach + 1,
               palm.Row + reach + 1};
  // The blob's pixels in the window give the centre, the orientation and the pose moments.
  const int top = std::max(window.Top, blob.Top);
  const int bottom = std::min(window.Bottom - 1, blob.Bottom);
  const int left = std::max(window.Left, blob.Left);
  const int right = std::min(window.Right - 1, blob.Right);
  double n = 0, sr = 0, sc = 0;
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      if (FLabels[static_cast<std::size_t>(r * Width + c)] == chosen) {
        n += 1;
        sr += r;
        sc += c;
      }
    }
  }
  const TPoint centre{static_cast<std::int32_t>(RoundHalfEven(sr / n)),
                      static_cast<std::int32_t>(RoundHalfEven(sc / n))};
  TMaskMoments m;
  m.M0 = 255 * n;
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      if (FLabels[static_cast<std::size_t>(r * Width + c)] != chosen) {
        continue;
      }
      const double dr = r - centre.Row;
      const double dc = c - centre.Column;
      m.Srr += 255 * dr * dr;
      m.Scc += 255 * dc * dc;
      m.Src += 255 * dc * dr;
      m.Srrr += 255 * dr * dr * dr;
      m.Sccr += 255 * dc * dc * dr;
      m.Srrc += 255 * dr * dr * dc;
      m.Sccc += 255 * dc * dc * dc;
    }
  }
  result.Lost = false;
  // The centre of the hand's part of the blob sits nearer the palm's middle than the deepest
  // point, which a fist or a spread hand pulls toward the knuckles.
  result.Hand = FMethod == TPalmPoint::PalmDisc ? centre : palm;
  FLost = false;
  FHand = result.Hand;
  FWindow = window;
  result.Centre = centre;
  result.Window = window;
  result.Angle = MomentOrientation(m.Src, m.Srr, m.Scc);
  result.Hu = HuInvariants(m);
  result.Mass = m.M0;
  return result;
}

}  // namespace pavrel
