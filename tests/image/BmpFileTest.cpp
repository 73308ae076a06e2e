#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/Bitmap.h"
#include "image/BmpFile.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class BmpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = fs::temp_directory_path() /
           ("pavrel-bmp-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  fs::path Write(const std::string& Name, const TBytes& Bytes) {
    const fs::path path = FDir / Name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    return path;
  }

  static TBytes Read(const fs::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), {});
  }

  fs::path FDir;
};

void Put16(TBytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

// A hand-built bitmap file; Rows are the file's rows in file order, already padded.
struct TBmpLayout {
  std::int32_t Width = 2;
  std::int32_t Height = 2;
  std::uint16_t BitCount = 24;
  std::uint32_t Compression = 0;
  std::uint32_t ColorsUsed = 0;
  std::vector<std::uint32_t> Palette;  // 0x00RRGGBB
  std::vector<std::uint32_t> Masks;    // after the 40-byte header
};

TBytes MakeBmp(const TBmpLayout& Layout, const TBytes& PixelData) {
  const std::size_t tableBytes = 4 * (Layout.Palette.size() + Layout.Masks.size());
  const std::size_t offset = 54 + tableBytes;
  TBytes b(offset, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(offset + PixelData.size()));
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(Layout.Width));
  Put32(b, 22, static_cast<std::uint32_t>(Layout.Height));
  Put16(b, 26, 1);
  Put16(b, 28, Layout.BitCount);
  Put32(b, 30, Layout.Compression);
  Put32(b, 46, Layout.ColorsUsed);
  std::size_t at = 54;
  for (std::uint32_t m : Layout.Masks) {
    Put32(b, at, m);
    at += 4;
  }
  for (std::uint32_t c : Layout.Palette) {
    Put32(b, at, c);
    at += 4;
  }
  b.insert(b.end(), PixelData.begin(), PixelData.end());
  return b;
}

TBitmap RandomBitmap(int Width, int Height, unsigned Seed) {
  TBitmap b(Width, Height);
  std::mt19937 rng(Seed);
  for (int r = 0; r < Height; ++r) {
    for (int c = 0; c < Width; ++c) {
      b.Row24(r)[c] = TRGBTriple{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                 static_cast<std::uint8_t>(rng())};
    }
  }
  return b;
}

void ExpectSamePixels(const TBitmap& A, const TBitmap& B) {
  ASSERT_EQ(A.Width(), B.Width());
  ASSERT_EQ(A.Height(), B.Height());
  ASSERT_EQ(A.PixelFormat(), B.PixelFormat());
  const std::size_t used = static_cast<std::size_t>(A.Width()) * A.BitsPerPixel() / 8;
  for (int r = 0; r < A.Height(); ++r) {
    ASSERT_EQ(TBytes(A.ScanLine(r), A.ScanLine(r) + used),
              TBytes(B.ScanLine(r), B.ScanLine(r) + used))
        << "row " << r;
  }
}

TEST_F(BmpFileTest, TwentyFourBitRoundTripKeepsEveryPixel) {
  for (int width : {1, 2, 3, 4, 5, 160}) {
    const TBitmap original = RandomBitmap(width, 7, static_cast<unsigned>(width));
    const fs::path path = FDir / (std::string("w") + std::to_string(width) + ".bmp");
    SaveBmpFile(original, path);
    SCOPED_TRACE(width);
    ExpectSamePixels(LoadBmpFile(path), original);
  }
}

TEST_F(BmpFileTest, WrittenFileIsBottomUpWithInfoHeaderAndZeroPadding) {
  TBitmap b(1, 2);
  b.Row24(0)[0] = TRGBTriple{1, 2, 3};  // top row
  b.Row24(1)[0] = TRGBTriple{4, 5, 6};
  b.ScanLine(0)[3] = 0xEE;  // garbage in the padding must not reach the file
  const fs::path path = FDir / "tiny.bmp";
  SaveBmpFile(b, path);
  const TBytes bytes = Read(path);
  ASSERT_EQ(bytes.size(), 54u + 2 * 4);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(bytes[2], 62);   // file size
  EXPECT_EQ(bytes[10], 54);  // pixel offset
  EXPECT_EQ(bytes[14], 40);  // BITMAPINFOHEADER
  EXPECT_EQ(bytes[22], 2);   // positive height: bottom-up
  EXPECT_EQ(bytes[28], 24);
  EXPECT_EQ(TBytes(bytes.begin() + 54, bytes.end()), (TBytes{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST_F(BmpFileTest, SavingReplacesAnExistingFile) {
  const fs::path path = Write("old.bmp", TBytes(1000, 0x55));
  SaveBmpFile(RandomBitmap(2, 2, 1), path);
  EXPECT_EQ(fs::file_size(path), 54u + 2 * 8);
}

TEST_F(BmpFileTest, TopDownAndBottomUpFilesGiveTheSameImage) {
  // Two rows of one pixel each: top row blue-ish (1,2,3), bottom row (4,5,6).
  const TBytes topFirst = {1, 2, 3, 0, 4, 5, 6, 0};
  const TBytes bottomFirst = {4, 5, 6, 0, 1, 2, 3, 0};
  TBmpLayout layout;
  layout.Width = 1;
  layout.Height = -2;
  const TBitmap topDown = LoadBmpFile(Write("td.bmp", MakeBmp(layout, topFirst)));
  layout.Height = 2;
  const TBitmap bottomUp = LoadBmpFile(Write("bu.bmp", MakeBmp(layout, bottomFirst)));
  ExpectSamePixels(topDown, bottomUp);
  EXPECT_EQ(topDown.Row24(0)[0], (TRGBTriple{1, 2, 3}));
  EXPECT_EQ(topDown.Row24(1)[0], (TRGBTriple{4, 5, 6}));
}

TEST_F(BmpFileTest, ThirtyTwoBitFilesKeepTheirFormat) {
  const TBytes rows = {1, 2, 3, 4, 5, 6, 7, 8};  // 2 x 1, bottom-up
  TBmpLayout layout;
  layout.Height = 1;
  layout.BitCount = 32;
  const TBitmap plain = LoadBmpFile(Write("plain.bmp", MakeBmp(layout, rows)));
  EXPECT_EQ(plain.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(TBytes(plain.ScanLine(0), plain.ScanLine(0) + 8), rows);

  layout.Compression = 3;
  layout.Masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  const TBitmap fields = LoadBmpFile(Write("fields.bmp", MakeBmp(layout, rows)));
  ExpectSamePixels(fields, plain);

  layout.Masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  EXPECT_THROW(LoadBmpFile(Write("swapped.bmp", MakeBmp(layout, rows))), EBmpError);
}

TEST_F(BmpFileTest, PalettedFilesKeepIndicesAndColours) {
  TBmpLayout layout;
  layout.Width = 3;
  layout.Height = 1;
  layout.BitCount = 8;
  layout.ColorsUsed = 2;
  layout.Palette = {0x00102030, 0x00A0B0C0};
  const TBitmap b = LoadBmpFile(Write("p8.bmp", MakeBmp(layout, {1, 0, 1, 0})));
  ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(b.ScanLine(0)[0], 1);
  EXPECT_EQ(b.ScanLine(0)[1], 0);
  ASSERT_EQ(b.Palette().size(), 256u);
  EXPECT_EQ(b.Palette()[0].Red, 0x10);
  EXPECT_EQ(b.Palette()[0].Blue, 0x30);
  EXPECT_EQ(b.Palette()[1].Green, 0xB0);
  EXPECT_EQ(b.Palette()[2].Red, 0);  // unused entries stay black
}

TEST_F(BmpFileTest, OnlyTwentyFourBitBitmapsAreWritten) {
  const fs::path path = FDir / "eight.bmp";
  try {
    SaveBmpFile(TBitmap(2, 2, TPixelFormat::pf8bit), path);
    FAIL() << "no exception";
  } catch (const EBmpError& e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("24-bit"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_THROW(SaveBmpFile(TBitmap(), FDir / "empty.bmp"), EBmpError);
  EXPECT_THROW(SaveBmpFile(TBitmap(1, 1), FDir / "no-such-folder" / "x.bmp"), EBmpError);
}

struct TMalformed {
  const char* Name;
  TBytes Bytes;
  const char* Reason;
};

TBytes Valid() {
  TBmpLayout layout;
  return MakeBmp(layout, TBytes(16, 7));
}

TBytes Patched32(std::size_t At, std::uint32_t Value) {
  TBytes b = Valid();
  Put32(b, At, Value);
  return b;
}

TBytes Patched16(std::size_t At, std::uint16_t Value) {
  TBytes b = Valid();
  Put16(b, At, Value);
  return b;
}

TEST_F(BmpFileTest, MalformedFilesAreRefusedWithFileNameAndReason) {
  TBytes shortPixels = Valid();
  shortPixels.pop_back();
  TBytes shortHeader = Valid();
  shortHeader.resize(40);
  TBmpLayout bigPalette;
  bigPalette.BitCount = 8;
  bigPalette.ColorsUsed = 300;
  TBmpLayout cutPalette;
  cutPalette.BitCount = 8;
  cutPalette.ColorsUsed = 200;
  cutPalette.Palette = {0, 0};
  const std::vector<TMalformed> cases = {
      {"empty", {}, "header is truncated"},
      {"short-header", shortHeader, "header is truncated"},
      {"no-signature",
       [] {
         TBytes b = Valid();
         b[0] = 'X';
         return b;
       }(),
       "signature"},
      {"os2-header", Patched32(14, 12), "OS/2"},
      {"odd-header", Patched32(14, 41), "info header size"},
      {"zero-width", Patched32(18, 0), "bad dimensions"},
      {"negative-width", Patched32(18, 0xFFFFFFFE), "bad dimensions"},
      {"zero-height", Patched32(22, 0), "bad dimensions"},
      {"huge-width", Patched32(18, 1u << 30), "too large"},
      {"most-negative-height", Patched32(22, 0x80000000u), "too large"},
      {"two-planes", Patched16(26, 2), "plane count"},
      {"sixteen-bit", Patched16(28, 16), "16 bits per pixel"},
      {"rle", Patched32(30, 1), "compression"},
      {"bitfields-24", Patched32(30, 3), "compression"},
      {"big-palette", MakeBmp(bigPalette, TBytes(8, 0)), "colour table size"},
      {"cut-palette", MakeBmp(cutPalette, {}), "colour table is truncated"},
      {"offset-in-header", Patched32(10, 20), "pixel data offset"},
      {"offset-past-end", Patched32(10, 5000), "pixel data is truncated"},
      {"short-pixels", shortPixels, "pixel data is truncated"},
      {"huge-height-small-file", Patched32(22, 30000), "pixel data is truncated"},
  };
  for (const TMalformed& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path path = Write(std::string(c.Name) + ".bmp", c.Bytes);
    try {
      LoadBmpFile(path);
      ADD_FAILURE() << "accepted";
    } catch (const EBmpError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path.string()), std::string::npos) << message;
      EXPECT_NE(message.find(c.Reason), std::string::npos) << message;
    }
  }
  // The unpatched file is fine, so each case above fails for its own reason.
  EXPECT_NO_THROW(LoadBmpFile(Write("valid.bmp", Valid())));
}

// A file of the full length its header asks for, its pixels a hole (no disk space, reads as
// zeros), so that only the picture's size can make it fail.
fs::path WriteSparse(const fs::path& Path, std::int32_t Width, std::int32_t Height,
                     std::uint16_t BitCount) {
  TBmpLayout layout;
  layout.Width = Width;
  layout.Height = Height;
  layout.BitCount = BitCount;
  if (BitCount == 8) {
    layout.Palette.assign(256, 0);
  }
  const TBytes header = MakeBmp(layout, {});
  const std::uint64_t height = Height < 0 ? -static_cast<std::int64_t>(Height) : Height;
  const std::uint64_t size =
      header.size() + RowStride(Width, static_cast<TPixelFormat>(BitCount)) * height;
  {
    std::ofstream out(Path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
  }
  fs::resize_file(Path, size);
  return Path;
}

TEST_F(BmpFileTest, PicturesLargerThanTheCapAreRefusedFromTheHeaderWithTheirDataPresent) {
  ASSERT_EQ(MaxBmpPixels, 8192 * 8192);
  for (const auto& [width, height] : std::vector<std::pair<std::int32_t, std::int32_t>>{
           {8193, 8192}, {8192, -8193}, {32768, 32768}, {32768, 2049}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const fs::path path = WriteSparse(FDir / "big.bmp", width, height, 32);
    try {
      LoadBmpFile(path);
      ADD_FAILURE() << "accepted";
    } catch (const EBmpError& e) {
      EXPECT_NE(std::string(e.what()).find("too large: more than 67108864 pixels"),
                std::string::npos)
          << e.what();
    }
  }
  // The cap itself is read (8 bits a pixel keeps it at 64 MiB).
  const TBitmap atCap = LoadBmpFile(WriteSparse(FDir / "cap.bmp", 8192, -8192, 8));
  EXPECT_EQ(atCap.Width(), 8192);
  EXPECT_EQ(atCap.Height(), 8192);
  EXPECT_EQ(atCap.ScanLine(8191)[8191], 0);
}

TEST_F(BmpFileTest, MissingFilesAndFoldersAreRefused) {
  EXPECT_THROW(LoadBmpFile(FDir / "missing.bmp"), EBmpError);
  EXPECT_THROW(LoadBmpFile(FDir), EBmpError);
}

}  // namespace
}  // namespace pavrel
