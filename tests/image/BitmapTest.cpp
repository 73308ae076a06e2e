#include <gtest/gtest.h>

#include <stdexcept>

#include "image/Bitmap.h"

namespace pavrel {
namespace {

TEST(BitmapTest, RowsArePaddedToFourBytes) {
  EXPECT_EQ(RowStride(1, TPixelFormat::pf24bit), 4u);
  EXPECT_EQ(RowStride(3, TPixelFormat::pf24bit), 12u);
  EXPECT_EQ(RowStride(5, TPixelFormat::pf24bit), 16u);
  EXPECT_EQ(RowStride(160, TPixelFormat::pf24bit), 480u);
  EXPECT_EQ(RowStride(161, TPixelFormat::pf24bit), 484u);
  EXPECT_EQ(RowStride(5, TPixelFormat::pf8bit), 8u);
  EXPECT_EQ(RowStride(5, TPixelFormat::pf32bit), 20u);
  TBitmap b(161, 121);
  EXPECT_EQ(b.Stride(), 484u);
  EXPECT_EQ(b.ByteSize(), 484u * 121u);
}

TEST(BitmapTest, ResizeKeepsWhatFitsAndBlackensTheRest) {
  TBitmap b(2, 2);
  b.Row24(0)[0] = TRGBTriple{1, 2, 3};
  b.Row24(1)[1] = TRGBTriple{4, 5, 6};
  b.SetSize(3, 1);
  ASSERT_EQ(b.Width(), 3);
  ASSERT_EQ(b.Height(), 1);
  EXPECT_EQ(b.Row24(0)[0], (TRGBTriple{1, 2, 3}));
  EXPECT_EQ(b.Row24(0)[1], TRGBTriple{});
  EXPECT_EQ(b.Row24(0)[2], TRGBTriple{});
  b.SetPixelFormat(TPixelFormat::pf8bit);
  EXPECT_EQ(b.Palette().size(), 256u);
  EXPECT_EQ(b.Stride(), 4u);
}

TEST(BitmapTest, AssignCopiesSizeFormatPaletteAndPixels) {
  TBitmap source(3, 2, TPixelFormat::pf8bit);
  source.Palette()[7] = TPaletteEntry{10, 20, 30};
  source.ScanLine(1)[2] = 7;
  TBitmap dest(1, 1);
  dest.Assign(source);
  EXPECT_EQ(dest.Width(), 3);
  EXPECT_EQ(dest.Height(), 2);
  EXPECT_EQ(dest.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(dest.ScanLine(1)[2], 7);
  EXPECT_EQ(dest.Palette()[7].Red, 30);
  // The copy is independent of its source.
  source.ScanLine(1)[2] = 9;
  EXPECT_EQ(dest.ScanLine(1)[2], 7);
  dest.FillBlack();
  EXPECT_EQ(dest.ScanLine(1)[2], 0);
}

TEST(BitmapTest, MovingHandsThePixelsOverWithoutACopy) {
  TBitmap source(3, 2, TPixelFormat::pf8bit);
  source.Palette()[7] = TPaletteEntry{10, 20, 30};
  source.ScanLine(1)[2] = 7;
  const std::uint8_t* pixels = source.Bits();
  TBitmap moved(std::move(source));
  EXPECT_EQ(moved.Bits(), pixels);
  EXPECT_EQ(moved.Width(), 3);
  EXPECT_EQ(moved.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(moved.ScanLine(1)[2], 7);
  EXPECT_EQ(moved.Palette()[7].Red, 30);
  EXPECT_TRUE(source.Empty());  // NOLINT(bugprone-use-after-move): left empty on purpose
  EXPECT_EQ(source.ByteSize(), 0u);

  TBitmap target(5, 5);
  target = std::move(moved);
  EXPECT_EQ(target.Bits(), pixels);
  EXPECT_EQ(target.Stride(), 4u);
  EXPECT_EQ(moved.Width(), 0);  // NOLINT(bugprone-use-after-move)
  EXPECT_NE(&target.Lock(), &moved.Lock());
  // A moved-from bitmap can be used again.
  moved.SetSize(2, 2);
  EXPECT_EQ(moved.Row24(1)[1], TRGBTriple{});
}

TEST(BitmapTest, AbsurdSizesAreRefused) {
  EXPECT_THROW(TBitmap(-1, 5), std::length_error);
  EXPECT_THROW(TBitmap(5, TBitmap::MaxSide + 1), std::length_error);
  TBitmap b(2, 2);
  EXPECT_THROW(b.SetWidth(-3), std::length_error);
  EXPECT_EQ(b.Width(), 2);
}

}  // namespace
}  // namespace pavrel
