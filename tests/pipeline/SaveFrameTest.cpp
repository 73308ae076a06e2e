#include "pipeline/SaveFrame.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "PixelHelpers.h"
#include "image/BmpFile.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;

class TSaveFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    FFolder = fs::temp_directory_path() /
              ("pavrel-save-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FFolder);
    fs::create_directories(FFolder);
  }
  void TearDown() override { fs::remove_all(FFolder); }

  static TBitmap Picture() {
    TBitmap bitmap(160, 120);
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        bitmap.Row24(y)[x] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                              static_cast<std::uint8_t>(x ^ y)};
      }
    }
    return bitmap;
  }
  void WriteText(const std::string& Name, const std::string& Text) {
    std::ofstream(FFolder / Name) << Text;
  }
  std::string ReadText(const std::string& Name) {
    std::ifstream in(FFolder / Name);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  int FileCount() { return static_cast<int>(std::distance(fs::directory_iterator(FFolder), {})); }

  fs::path FFolder;
};

TEST_F(TSaveFrame, NumbersFromTheCounterAndWritesABitmapTheReaderAccepts) {
  const TBitmap picture = Picture();
  EXPECT_EQ(SaveFrameToBitmap(picture, FFolder, 1), 1);
  EXPECT_EQ(SaveFrameToBitmap(picture, FFolder, 2), 2);
  const TBitmap read = LoadBmpFile(FFolder / "2.bmp");
  ASSERT_EQ(read.Width(), 160);
  ASSERT_EQ(read.Height(), 120);
  ASSERT_EQ(read.PixelFormat(), TPixelFormat::pf24bit);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 160; ++x) {
      ASSERT_EQ(read.Row24(y)[x], picture.Row24(y)[x]) << x << "," << y;
    }
  }
  EXPECT_EQ(FileCount(), 2);
}

TEST_F(TSaveFrame, NeverOverwritesTheFilesOfAnEarlierRun) {
  WriteText("1.bmp", "earlier run");
  WriteText("2.bmp", "earlier run too");
  WriteText("4.bmp", "and this");
  // A new run starts its counter at 1 again.
  EXPECT_EQ(SaveFrameToBitmap(Picture(), FFolder, 1), 3);
  EXPECT_EQ(SaveFrameToBitmap(Picture(), FFolder, 4), 5);
  EXPECT_EQ(ReadText("1.bmp"), "earlier run");
  EXPECT_EQ(ReadText("2.bmp"), "earlier run too");
  EXPECT_EQ(ReadText("4.bmp"), "and this");
  EXPECT_NO_THROW(LoadBmpFile(FFolder / "3.bmp"));
  EXPECT_NO_THROW(LoadBmpFile(FFolder / "5.bmp"));
  // Other names do not disturb the numbering; a directory called 6.bmp is skipped too.
  fs::create_directory(FFolder / "6.bmp");
  EXPECT_EQ(SaveFrameToBitmap(Picture(), FFolder, 6), 7);
}

TEST_F(TSaveFrame, FailuresSayWhyAndLeaveNoFile) {
  try {
    SaveFrameToBitmap(Picture(), FFolder / "missing", 1);
    ADD_FAILURE() << "saving into a missing folder must fail";
  } catch (const EBmpError& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos) << e.what();
  }
  EXPECT_THROW(SaveFrameToBitmap(TBitmap(160, 120, TPixelFormat::pf32bit), FFolder, 1), EBmpError);
  EXPECT_EQ(FileCount(), 0);
}

}  // namespace
}  // namespace pavrel
