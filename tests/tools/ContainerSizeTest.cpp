// The sizes a video container declares, read from hand-made headers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "track/ContainerSize.h"

namespace pavrel::track {
namespace {

std::string Le32(std::uint32_t V) {
  return {static_cast<char>(V), static_cast<char>(V >> 8), static_cast<char>(V >> 16),
          static_cast<char>(V >> 24)};
}
std::string Be(std::uint64_t V, int Bytes) {
  std::string s;
  for (int i = Bytes - 1; i >= 0; --i) {
    s += static_cast<char>(V >> (8 * i));
  }
  return s;
}
std::string Riff(const std::string& Form, std::uint32_t Size, std::size_t Present) {
  return "RIFF" + Le32(Size) + Form + std::string(Present, 'x');
}
std::string Box(const std::string& Type, std::uint32_t Size, std::size_t Present) {
  return Be(Size, 4) + Type + std::string(Present, 'x');
}

std::optional<std::uint64_t> Declared(const std::string& Bytes) {
  std::istringstream in(Bytes);
  return DeclaredContainerSize(in);
}

TEST(ContainerSize, RiffChunksAddUpPaddedToEvenLengths) {
  EXPECT_EQ(Declared(Riff("AVI ", 100, 10)), 108u);
  // 8 + 13 bytes, padded by one to an even length; the next RIFF chunk follows (an OpenDML AVI).
  const std::string first = Riff("AVI ", 13, 9) + "p";
  EXPECT_EQ(Declared(first + Riff("AVIX", 1000, 4)), 22u + 1008u);
  // Whatever follows that is no RIFF chunk ends the walk.
  EXPECT_EQ(Declared(first + "JUNKJUNK"), 22u);
}

TEST(ContainerSize, TopLevelBoxesAddUpIncludingSixtyFourBitSizes) {
  const std::string boxes = Box("ftyp", 16, 8) + Box("moov", 40, 32);
  EXPECT_EQ(Declared(boxes + Box("mdat", 5000, 8)), 56u + 5000u);
  // Size 1: the real size follows in 64 bits.
  EXPECT_EQ(Declared(boxes + Be(1, 4) + "mdat" + Be(0x1'0000'0010, 8)), 56u + 0x1'0000'0010);
  // A file that starts with its media data, as some writers leave it.
  EXPECT_EQ(Declared(Box("mdat", 300, 4)), 300u);
}

TEST(ContainerSize, BoxesThatLeaveTheLengthOpenOrAreMalformedDeclareNothing) {
  const std::string ftyp = Box("ftyp", 16, 8);
  EXPECT_EQ(Declared(ftyp + Box("mdat", 0, 8)), std::nullopt);  // to the end of the file
  EXPECT_EQ(Declared(ftyp + Box("mdat", 7, 8)), std::nullopt);
  EXPECT_EQ(Declared(ftyp + Be(1, 4) + "mdat" + Be(15, 8)), std::nullopt);
  EXPECT_EQ(Declared(ftyp + Be(1, 4) + "mdat" + Be(~std::uint64_t{0}, 8)), std::nullopt);
}

TEST(ContainerSize, EbmlHeaderAndSegment) {
  const std::string header = "\x1A\x45\xDF\xA3" + std::string("\x84") + "abcd";  // 4 bytes
  // Segment ID, a 2-byte size of 0x123.
  const std::string segment = "\x18\x53\x80\x67" + Be(0x4123, 2);
  EXPECT_EQ(Declared(header + segment + "data"), 9u + 6u + 0x123u);
  // All value bits set: unknown size, as a live recording leaves it.
  EXPECT_EQ(Declared(header + "\x18\x53\x80\x67" + "\xFF"), std::nullopt);
  // No length marker in the first byte.
  EXPECT_EQ(Declared(header + std::string(1, '\0') + "xxxxxxxx"), std::nullopt);
}

TEST(ContainerSize, OtherFilesDeclareNothing) {
  EXPECT_EQ(Declared(""), std::nullopt);
  EXPECT_EQ(Declared("RIFF"), std::nullopt);
  EXPECT_EQ(Declared("This is a text file, not a video.\n"), std::nullopt);
}

TEST(ContainerSize, AFileShorterThanItsContainerIsCutOff) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("pavrel-cut-" + std::to_string(::getpid()));
  std::ofstream(file, std::ios::binary) << Riff("AVI ", 100, 96);
  EXPECT_EQ(CutOffReason(file), "");
  std::filesystem::resize_file(file, 60);
  EXPECT_EQ(CutOffReason(file),
            "the file has 60 of the 108 bytes its container declares: it is cut off");
  std::filesystem::remove(file);
  EXPECT_EQ(CutOffReason(file), "");  // gone: nothing to say
}

}  // namespace
}  // namespace pavrel::track
