#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ReferenceTracker.h"
#include "image/Bitmap.h"
#include "tracking/ColorKernels.h"
#include "tracking/ColorLibrary.h"

namespace pavrel {
namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(3, 15, 2), 23);    // 22.5
  EXPECT_EQ(MulDiv(-3, 15, 2), -23);  // -22.5
  EXPECT_EQ(MulDiv(3, -15, 2), -23);
  EXPECT_EQ(MulDiv(3, 15, -2), -23);
  EXPECT_EQ(MulDiv(-3, -15, -2), -23);
  EXPECT_EQ(MulDiv(-3, -15, 2), 23);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);  // 2.33
  EXPECT_EQ(MulDiv(8, 1, 3), 3);  // 2.67
  EXPECT_EQ(MulDiv(-7, 1, 3), -2);
  EXPECT_EQ(MulDiv(-8, 1, 3), -3);
  EXPECT_EQ(MulDiv(-1, 60, 255), 0);  // -0.235: no negative zero trouble
}

TEST(MulDivTest, UsesA64BitIntermediateAndFlagsWhatDoesNotFit) {
  EXPECT_EQ(MulDiv(1 << 30, 1 << 30, 1 << 30), 1 << 30);
  EXPECT_EQ(MulDiv(2000000000, 2000000000, 2000000000), 2000000000);
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), 1, 1),
            std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), -1, 1), -1);  // 2^31 overflows
  EXPECT_EQ(MulDiv(1 << 30, 4, 1), -1);
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
}

struct THsvCase {
  std::uint8_t R, G, B;
  std::int32_t H, S, V;
  std::uint8_t HueByte;
};

TEST(RGBToHSVTest, WorkedExamples) {
  const std::vector<THsvCase> cases = {
      {255, 0, 0, 0, 255, 255, 0},       {0, 255, 0, 120, 255, 255, 85},
      {0, 0, 255, 240, 255, 255, 170},   {255, 255, 0, 60, 255, 255, 42},
      {200, 150, 120, 23, 102, 200, 16}, {200, 120, 150, 337, 102, 200, 239},
      {255, 0, 1, 0, 255, 255, 0},       {10, 20, 30, 210, 170, 30, 149},
      {128, 128, 128, 0, 0, 128, 0},     {0, 0, 0, 0, 0, 0, 0},
      {0, 255, 255, 180, 255, 255, 128},  // green and blue tie: green wins
      {255, 0, 255, 300, 255, 255, 212},  // red and blue tie: red wins
  };
  for (const THsvCase& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.R) << "," << int(c.G) << "," << int(c.B));
    std::int32_t h = -1, s = -1, v = -1;
    RGBToHSV(MakeRGBTriple(c.R, c.G, c.B), h, s, v);
    EXPECT_EQ(h, c.H);
    EXPECT_EQ(s, c.S);
    EXPECT_EQ(v, c.V);
    EXPECT_EQ(detail::HueByte(h), c.HueByte);

    TBitmap one(1, 1), out;
    one.Row24(0)[0] = MakeRGBTriple(c.R, c.G, c.B);
    GetImageSpace(isHSV, false, one, out);
    EXPECT_EQ(out.Row24(0)[0], MakeRGBTriple(c.HueByte, static_cast<std::uint8_t>(c.S),
                                             static_cast<std::uint8_t>(c.V)));
  }
}

TEST(RGBToHSVTest, HueByteHalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(detail::HueByte(12), 8);
  EXPECT_EQ(detail::HueByte(36), 26);
  EXPECT_EQ(detail::HueByte(60), 42);
  EXPECT_EQ(detail::HueByte(180), 128);
  EXPECT_EQ(detail::HueByte(359), 254);
  // Every 24 degrees from 12 is an exact half; all others round to the nearest.
  for (int h = 0; h < 360; ++h) {
    const int twice = 2 * h * 255 / 360;  // floor of twice the exact value
    const bool half = (h * 255) % 360 == 180;
    const int expected =
        half ? (twice / 2 % 2 == 0 ? twice / 2 : twice / 2 + 1) : (h * 255 + 180) / 360;
    EXPECT_EQ(detail::HueByte(h), expected) << h;
    EXPECT_EQ(half, h % 24 == 12) << h;
  }
}

TEST(RGBToHSVTest, PixelHelpers) {
  const TRGBTriple t = MakeRGBTriple(1, 2, 3);
  EXPECT_EQ(t.rgbtRed, 1);
  EXPECT_EQ(t.rgbtGreen, 2);
  EXPECT_EQ(t.rgbtBlue, 3);
  EXPECT_EQ(NegativeTriple(t), MakeRGBTriple(254, 253, 252));
}

// The reference pixel: RGBToHSV and the hue byte, one call per pixel.
TRGBTriple ReferencePixel(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
  std::int32_t h, s, v;
  RGBToHSV(MakeRGBTriple(R, G, B), h, s, v);
  return MakeRGBTriple(detail::HueByte(h), static_cast<std::uint8_t>(s),
                       static_cast<std::uint8_t>(v));
}

// Every colour through a row kernel, 256 blues to a row, against the reference.
void ExpectKernelMatchesReferenceForAllColours(detail::TConvertRow Kernel) {
  std::vector<std::uint8_t> in(3 * 256), out(3 * 256);
  int mismatches = 0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        in[3 * b] = static_cast<std::uint8_t>(b);
        in[3 * b + 1] = static_cast<std::uint8_t>(g);
        in[3 * b + 2] = static_cast<std::uint8_t>(r);
      }
      Kernel(in.data(), out.data(), 256);
      for (int b = 0; b < 256; ++b) {
        const TRGBTriple want =
            ReferencePixel(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                           static_cast<std::uint8_t>(b));
        const TRGBTriple got{out[3 * b], out[3 * b + 1], out[3 * b + 2]};
        if (!(got == want) && ++mismatches <= 5) {
          ADD_FAILURE() << "RGB " << r << "," << g << "," << b << ": got hue " << int(got.rgbtRed)
                        << " sat " << int(got.rgbtGreen) << " val " << int(got.rgbtBlue)
                        << ", want " << int(want.rgbtRed) << " " << int(want.rgbtGreen) << " "
                        << int(want.rgbtBlue);
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(GetImageSpaceTest, PortableKernelMatchesTheReferenceOnAllColours) {
  ExpectKernelMatchesReferenceForAllColours(&detail::ConvertRowPortable);
}

TEST(GetImageSpaceTest, Avx2KernelMatchesTheReferenceOnAllColours) {
  const detail::TConvertRow kernel = detail::ConvertRowAvx2();
  if (kernel == nullptr) {
    GTEST_SKIP() << "no AVX2 on this machine";
  }
  ExpectKernelMatchesReferenceForAllColours(kernel);
}

TBitmap RandomFrame(int Width, int Height, unsigned Seed) {
  TBitmap b(Width, Height);
  std::mt19937 rng(Seed);
  for (int r = 0; r < Height; ++r) {
    for (int c = 0; c < Width; ++c) {
      b.Row24(r)[c] =
          MakeRGBTriple(static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                        static_cast<std::uint8_t>(rng()));
    }
  }
  return b;
}

void ExpectSamePixels(const TBitmap& A, const TBitmap& B) {
  ASSERT_EQ(A.Width(), B.Width());
  ASSERT_EQ(A.Height(), B.Height());
  ASSERT_EQ(A.PixelFormat(), B.PixelFormat());
  for (int r = 0; r < A.Height(); ++r) {
    for (int c = 0; c < A.Width(); ++c) {
      ASSERT_EQ(A.Row24(r)[c], B.Row24(r)[c]) << "row " << r << " column " << c;
    }
  }
}

TEST(GetImageSpaceTest, ConvertsWholeImagesOfAnyWidthAlsoInPlace) {
  // Widths around the 16-pixel blocks of the fast kernel, and padded rows.
  for (int width : {1, 15, 16, 17, 33, 161}) {
    SCOPED_TRACE(width);
    const TBitmap source = RandomFrame(width, 3, static_cast<unsigned>(width));
    TBitmap want;
    test::ReferenceImageSpace(source, want);
    TBitmap dest(2, 2, TPixelFormat::pf8bit);  // resized and reformatted by the call
    GetImageSpace(isHSV, false, source, dest);
    ExpectSamePixels(dest, want);
    TBitmap inPlace(source);
    GetImageSpace(isHSV, false, inPlace, inPlace);
    ExpectSamePixels(inPlace, want);
  }
}

TEST(GetImageSpaceTest, NegativeComplementsTheResult) {
  TBitmap red(1, 1);
  red.Row24(0)[0] = MakeRGBTriple(255, 0, 0);
  TBitmap out;
  GetImageSpace(isHSV, true, red, out);
  EXPECT_EQ(out.Row24(0)[0], MakeRGBTriple(255, 0, 0));  // (0, 255, 255) complemented

  const TBitmap source = RandomFrame(20, 2, 7);
  TBitmap plain, negative;
  GetImageSpace(isHSV, false, source, plain);
  GetImageSpace(isHSV, true, source, negative);
  for (int c = 0; c < 20; ++c) {
    EXPECT_EQ(negative.Row24(1)[c], NegativeTriple(plain.Row24(1)[c]));
  }
}

TEST(GetImageSpaceTest, OtherSpacesOnlyResizeTheDestination) {
  const TBitmap source = RandomFrame(3, 2, 9);
  TBitmap dest(2, 1);
  dest.Row24(0)[0] = MakeRGBTriple(1, 2, 3);
  GetImageSpace(3, false, source, dest);
  EXPECT_EQ(dest.Width(), 3);
  EXPECT_EQ(dest.Height(), 2);
  EXPECT_EQ(dest.Row24(0)[0], MakeRGBTriple(1, 2, 3));  // kept, not converted
  GetImageSpace(3, true, source, dest);
  EXPECT_EQ(dest.Row24(0)[0], MakeRGBTriple(254, 253, 252));
}

TEST(GetImageSpaceTest, RefusesOtherFormatsAndLeavesTheDestinationAlone) {
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf32bit}) {
    const TBitmap source(4, 4, format);
    TBitmap dest(2, 3);
    dest.Row24(2)[1] = MakeRGBTriple(9, 8, 7);
    try {
      GetImageSpace(isHSV, false, source, dest);
      ADD_FAILURE() << "accepted " << static_cast<int>(format) << " bits";
    } catch (const EColorError& e) {
      EXPECT_STREQ(e.what(), "GetImageSpace:  Bitmap must be 24-bit color.");
    }
    EXPECT_EQ(dest.Width(), 2);
    EXPECT_EQ(dest.Height(), 3);
    EXPECT_EQ(dest.Row24(2)[1], MakeRGBTriple(9, 8, 7));
  }
}

TEST(ThresholdKernelTest, ConvertsAndThresholdsInOnePass) {
  const detail::TConvertThresholdRow fast = detail::ConvertThresholdRowAvx2();
  std::mt19937 rng(3);
  for (int round = 0; round < 300; ++round) {
    const int count = 1 + static_cast<int>(rng() % 100);
    std::vector<std::uint8_t> source(3 * count);
    for (auto& b : source) {
      b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 255 * (rng() % 2) : rng());
    }
    detail::TSkinBounds bounds;
    for (std::uint8_t* e : {&bounds.LowHue, &bounds.HighHue, &bounds.LowSat, &bounds.HighSat,
                            &bounds.LowVal, &bounds.HighVal}) {
      *e = static_cast<std::uint8_t>(rng());
    }
    if (round % 2 == 0) {  // wide ranges, so that some pixels are skin
      bounds.LowHue = static_cast<std::uint8_t>(rng() % 40);
      bounds.HighHue = 255;
      bounds.LowSat = bounds.LowVal = 0;
      bounds.HighSat = bounds.HighVal = 255;
    }
    std::vector<std::uint8_t> hsv(3 * count), hue(3 * count), mask(3 * count), skin(count);
    detail::ConvertThresholdRowPortable(source.data(), hsv.data(), hue.data(), mask.data(),
                                        skin.data(), count, bounds);
    for (int i = 0; i < count; ++i) {
      const TRGBTriple want = ReferencePixel(source[3 * i + 2], source[3 * i + 1], source[3 * i]);
      ASSERT_EQ((TRGBTriple{hsv[3 * i], hsv[3 * i + 1], hsv[3 * i + 2]}), want);
      const bool isSkin = bounds.LowHue <= want.rgbtRed && want.rgbtRed <= bounds.HighHue &&
                          bounds.LowSat <= want.rgbtGreen && want.rgbtGreen <= bounds.HighSat &&
                          bounds.LowVal <= want.rgbtBlue && want.rgbtBlue <= bounds.HighVal;
      const std::uint8_t j = isSkin ? 255 : 0;
      ASSERT_EQ((TRGBTriple{mask[3 * i], mask[3 * i + 1], mask[3 * i + 2]}), (TRGBTriple{j, j, j}));
      ASSERT_EQ(skin[i], isSkin ? 1 : 0);
      const std::uint8_t h = want.rgbtRed;
      ASSERT_EQ((TRGBTriple{hue[3 * i], hue[3 * i + 1], hue[3 * i + 2]}), (TRGBTriple{h, h, h}));
    }
    if (fast != nullptr) {
      std::vector<std::uint8_t> hsv2(3 * count), hue2(3 * count), mask2(3 * count), skin2(count);
      fast(source.data(), hsv2.data(), hue2.data(), mask2.data(), skin2.data(), count, bounds);
      ASSERT_EQ(hsv2, hsv) << "round " << round;
      ASSERT_EQ(hue2, hue) << "round " << round;
      ASSERT_EQ(mask2, mask) << "round " << round;
      ASSERT_EQ(skin2, skin) << "round " << round;
    }
  }
}

TEST(ThresholdKernelTest, SkinRowSumsMatchPixelByPixelSums) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    // Runs of skin and of background with specks, as a hand row looks.
    const int count = static_cast<int>(rng() % 200);
    std::vector<std::uint8_t> skin(count);
    for (int i = 0; i < count;) {
      const int run = 1 + static_cast<int>(rng() % 20);
      const std::uint8_t value = static_cast<std::uint8_t>(rng() % 2);
      for (int k = 0; k < run && i < count; ++k, ++i) {
        skin[i] = rng() % 10 == 0 ? 1 - value : value;
      }
    }
    std::int64_t n = 0, j1 = 0, j2 = 0, j3 = 0;
    for (std::int64_t j = 0; j < count; ++j) {
      if (skin[j]) {
        ++n;
        j1 += j;
        j2 += j * j;
        j3 += j * j * j;
      }
    }
    const detail::TRowSums third = detail::SumSkinRow(skin.data(), count, true);
    ASSERT_EQ(third.N, n) << round;
    ASSERT_EQ(third.J, j1) << round;
    ASSERT_EQ(third.JJ, j2) << round;
    ASSERT_EQ(third.JJJ, j3) << round;
    const detail::TRowSums second = detail::SumSkinRow(skin.data(), count, false);
    ASSERT_EQ(second.JJ, j2) << round;
  }
}

}  // namespace
}  // namespace pavrel
