#include "image/BmpFile.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

namespace pavrel {

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t InfoHeaderSize = 40;
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;

struct TFileCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

[[noreturn]] void Fail(const std::filesystem::path& FileName, const std::string& Reason) {
  throw EBmpError("Bitmap file \"" + FileName.string() + "\": " + Reason);
}

std::string ErrnoText(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

// Reads exactly Count bytes at Offset; false when the file ends first.
bool ReadAt(std::FILE* File, std::uint64_t Offset, std::uint8_t* Buffer, std::size_t Count) {
  if (std::fseek(File, static_cast<long>(Offset), SEEK_SET) != 0) {
    return false;
  }
  return std::fread(Buffer, 1, Count, File) == Count;
}

}  // namespace

TBitmap LoadBmpFile(const std::filesystem::path& FileName) {
  std::error_code ec;
  if (std::filesystem::is_directory(FileName, ec)) {
    Fail(FileName, "is a folder, not a file");
  }
  errno = 0;
  TFilePtr file(std::fopen(FileName.c_str(), "rb"));
  if (!file) {
    Fail(FileName, "cannot be opened (" + ErrnoText(errno) + ")");
  }
  const std::uint64_t fileSize = std::filesystem::file_size(FileName, ec);
  if (ec) {
    Fail(FileName, "cannot be read (" + ec.message() + ")");
  }

  std::array<std::uint8_t, FileHeaderSize + InfoHeaderSize> head{};
  if (fileSize < head.size() || !ReadAt(file.get(), 0, head.data(), head.size())) {
    Fail(FileName, "the header is truncated");
  }
  if (head[0] != 'B' || head[1] != 'M') {
    Fail(FileName, "not a Windows bitmap (no BM signature)");
  }
  const std::uint32_t pixelOffset = Get32(&head[10]);
  const std::uint8_t* info = &head[FileHeaderSize];
  const std::uint32_t headerSize = Get32(info);
  if (headerSize == 12) {
    Fail(FileName, "OS/2 bitmap headers are not supported");
  }
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    Fail(FileName, "bad info header size " + std::to_string(headerSize));
  }
  const std::int32_t width = static_cast<std::int32_t>(Get32(info + 4));
  const std::int32_t rawHeight = static_cast<std::int32_t>(Get32(info + 8));
  const std::uint16_t planes = Get16(info + 12);
  const std::uint16_t bitCount = Get16(info + 14);
  const std::uint32_t compression = Get32(info + 16);
  const std::uint32_t colorsUsed = Get32(info + 32);

  if (width <= 0 || rawHeight == 0) {
    Fail(FileName, "bad dimensions " + std::to_string(width) + " x " + std::to_string(rawHeight));
  }
  const bool topDown = rawHeight < 0;
  const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
  if (width > TBitmap::MaxSide || height > TBitmap::MaxSide) {
    Fail(FileName,
         "dimensions " + std::to_string(width) + " x " + std::to_string(height) + " are too large");
  }
  if (width * height > MaxBmpPixels) {
    Fail(FileName, "dimensions " + std::to_string(width) + " x " + std::to_string(height) +
                       " are too large: more than " + std::to_string(MaxBmpPixels) + " pixels");
  }
  if (planes != 1) {
    Fail(FileName, "bad plane count " + std::to_string(planes));
  }
  TPixelFormat format = TPixelFormat::pf24bit;
  switch (bitCount) {
    case 8:
      format = TPixelFormat::pf8bit;
      break;
    case 24:
      format = TPixelFormat::pf24bit;
      break;
    case 32:
      format = TPixelFormat::pf32bit;
      break;
    default:
      Fail(FileName, "unsupported pixel format of " + std::to_string(bitCount) + " bits per pixel");
  }

  std::uint64_t tableEnd = FileHeaderSize + headerSize;
  if (compression == BI_BITFIELDS && bitCount == 32) {
    // Only the plain blue-green-red layout is accepted; the masks follow a 40-byte header.
    std::array<std::uint8_t, 12> masks{};
    const std::uint64_t maskOffset = FileHeaderSize + InfoHeaderSize;
    if (!ReadAt(file.get(), maskOffset, masks.data(), masks.size())) {
      Fail(FileName, "the colour masks are truncated");
    }
    if (Get32(&masks[0]) != 0x00FF0000u || Get32(&masks[4]) != 0x0000FF00u ||
        Get32(&masks[8]) != 0x000000FFu) {
      Fail(FileName, "unsupported colour masks");
    }
    if (headerSize == InfoHeaderSize) {
      tableEnd += masks.size();
    }
  } else if (compression != BI_RGB) {
    Fail(FileName, "unsupported compression " + std::to_string(compression));
  }

  std::vector<TPaletteEntry> palette;
  if (format == TPixelFormat::pf8bit) {
    const std::uint32_t count = colorsUsed == 0 ? 256 : colorsUsed;
    if (count > 256) {
      Fail(FileName, "bad colour table size " + std::to_string(colorsUsed));
    }
    std::vector<std::uint8_t> table(4 * static_cast<std::size_t>(count));
    if (!ReadAt(file.get(), tableEnd, table.data(), table.size())) {
      Fail(FileName, "the colour table is truncated");
    }
    palette.resize(256);
    for (std::uint32_t i = 0; i < count; ++i) {
      palette[i] = TPaletteEntry{table[4 * i], table[4 * i + 1], table[4 * i + 2]};
    }
    tableEnd += table.size();
  }

  if (pixelOffset < FileHeaderSize + headerSize) {
    Fail(FileName, "bad pixel data offset " + std::to_string(pixelOffset));
  }
  const std::size_t stride = RowStride(width, format);
  const std::uint64_t dataSize = static_cast<std::uint64_t>(stride) * height;
  if (pixelOffset > fileSize || fileSize - pixelOffset < dataSize) {
    Fail(FileName, "the pixel data is truncated");
  }

  TBitmap bitmap(width, static_cast<int>(height), format);
  if (format == TPixelFormat::pf8bit) {
    bitmap.Palette() = std::move(palette);
  }
  if (std::fseek(file.get(), static_cast<long>(pixelOffset), SEEK_SET) != 0) {
    Fail(FileName, "the pixel data is truncated");
  }
  for (std::int64_t fileRow = 0; fileRow < height; ++fileRow) {
    const int row = static_cast<int>(topDown ? fileRow : height - 1 - fileRow);
    if (std::fread(bitmap.ScanLine(row), 1, stride, file.get()) != stride) {
      Fail(FileName, "the pixel data is truncated");
    }
  }
  return bitmap;
}

void SaveBmpFile(const TBitmap& Bitmap, const std::filesystem::path& FileName) {
  if (Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
    Fail(FileName, "only 24-bit bitmaps can be written, this one has " +
                       std::to_string(Bitmap.BitsPerPixel()) + " bits per pixel");
  }
  if (Bitmap.Empty()) {
    Fail(FileName, "an empty bitmap cannot be written");
  }
  const std::size_t stride = Bitmap.Stride();
  const std::uint64_t dataSize = static_cast<std::uint64_t>(stride) * Bitmap.Height();
  const std::uint64_t offset = FileHeaderSize + InfoHeaderSize;
  if (offset + dataSize > 0xFFFFFFFFu) {
    Fail(FileName, "the bitmap is too large for a bitmap file");
  }

  std::array<std::uint8_t, FileHeaderSize + InfoHeaderSize> head{};
  head[0] = 'B';
  head[1] = 'M';
  Put32(&head[2], static_cast<std::uint32_t>(offset + dataSize));
  Put32(&head[10], static_cast<std::uint32_t>(offset));
  std::uint8_t* info = &head[FileHeaderSize];
  Put32(info, InfoHeaderSize);
  Put32(info + 4, static_cast<std::uint32_t>(Bitmap.Width()));
  Put32(info + 8, static_cast<std::uint32_t>(Bitmap.Height()));
  Put16(info + 12, 1);
  Put16(info + 14, 24);
  Put32(info + 16, BI_RGB);
  Put32(info + 20, static_cast<std::uint32_t>(dataSize));
  Put32(info + 24, 2835);  // 72 dots per inch
  Put32(info + 28, 2835);

  errno = 0;
  TFilePtr file(std::fopen(FileName.c_str(), "wb"));
  if (!file) {
    Fail(FileName, "cannot be created (" + ErrnoText(errno) + ")");
  }
  bool ok = std::fwrite(head.data(), 1, head.size(), file.get()) == head.size();
  // Rows go bottom-up with zero padding, whatever the bitmap's padding bytes hold.
  std::vector<std::uint8_t> row(stride, 0);
  const std::size_t used = 3 * static_cast<std::size_t>(Bitmap.Width());
  for (int r = Bitmap.Height() - 1; ok && r >= 0; --r) {
    std::memcpy(row.data(), Bitmap.ScanLine(r), used);
    ok = std::fwrite(row.data(), 1, stride, file.get()) == stride;
  }
  const int writeError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok || !closed) {
    Fail(FileName, "cannot be written (" + ErrnoText(ok ? errno : writeError) + ")");
  }
}

}  // namespace pavrel
