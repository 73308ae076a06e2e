#include "track/ContainerSize.h"

#include <array>
#include <cstring>
#include <fstream>
#include <istream>
#include <string>
#include <system_error>

namespace pavrel::track {

namespace {

// The most top-level chunks or boxes walked: real files have a handful, and a hostile one
// must not make the walk long.
constexpr int MaxChunks = 4096;

bool ReadAt(std::istream& In, std::uint64_t Offset, std::uint8_t* Bytes, std::size_t Count) {
  In.clear();
  In.seekg(static_cast<std::streamoff>(Offset));
  In.read(reinterpret_cast<char*>(Bytes), static_cast<std::streamsize>(Count));
  return In.gcount() == static_cast<std::streamsize>(Count);
}

std::uint64_t Little32(const std::uint8_t* B) {
  return B[0] | (std::uint64_t{B[1]} << 8) | (std::uint64_t{B[2]} << 16) |
         (std::uint64_t{B[3]} << 24);
}

std::uint64_t Big(const std::uint8_t* B, int Count) {
  std::uint64_t v = 0;
  for (int i = 0; i < Count; ++i) {
    v = (v << 8) | B[i];
  }
  return v;
}

// Adds without wrapping; nullopt when the sum does not fit.
std::optional<std::uint64_t> Add(std::uint64_t A, std::uint64_t B) {
  if (A > UINT64_MAX - B) {
    return std::nullopt;
  }
  return A + B;
}

// RIFF chunks one after another (an OpenDML AVI larger than 1 GB has several).
std::optional<std::uint64_t> RiffSize(std::istream& In) {
  std::uint64_t end = 0;
  std::array<std::uint8_t, 8> head{};
  for (int i = 0; i < MaxChunks && ReadAt(In, end, head.data(), head.size()); ++i) {
    if (std::memcmp(head.data(), "RIFF", 4) != 0) {
      break;
    }
    const std::uint64_t size = Little32(head.data() + 4);
    end += 8 + size + (size & 1);  // chunks are padded to an even length
  }
  return end;
}

// ISO base media boxes: a 32-bit size (1: a 64-bit size follows; 0: to the end of the file).
std::optional<std::uint64_t> BoxesSize(std::istream& In) {
  std::uint64_t end = 0;
  std::array<std::uint8_t, 16> head{};
  for (int i = 0; i < MaxChunks && ReadAt(In, end, head.data(), 8); ++i) {
    std::uint64_t size = Big(head.data(), 4);
    if (size == 0) {
      return std::nullopt;
    }
    if (size == 1) {
      if (!ReadAt(In, end + 8, head.data() + 8, 8)) {
        return std::nullopt;
      }
      size = Big(head.data() + 8, 8);
      if (size < 16) {
        return std::nullopt;
      }
    } else if (size < 8) {
      return std::nullopt;
    }
    const std::optional<std::uint64_t> next = Add(end, size);
    if (!next) {
      return std::nullopt;
    }
    end = *next;
  }
  return end;
}

// An EBML variable-length number at Offset: its length in bytes and value (nullopt when the
// length marker is missing). With Size, all value bits set means "unknown".
struct TVint {
  int Length = 0;
  std::uint64_t Value = 0;
  bool Unknown = false;
};
std::optional<TVint> ReadVint(std::istream& In, std::uint64_t Offset, bool Size) {
  std::array<std::uint8_t, 8> b{};
  if (!ReadAt(In, Offset, b.data(), 1) || b[0] == 0) {
    return std::nullopt;
  }
  TVint v;
  v.Length = 1;
  while ((b[0] & (0x80 >> (v.Length - 1))) == 0) {
    ++v.Length;
  }
  if (!ReadAt(In, Offset, b.data(), static_cast<std::size_t>(v.Length))) {
    return std::nullopt;
  }
  v.Value = Big(b.data(), v.Length);
  if (Size) {
    const std::uint64_t bits = 7 * static_cast<std::uint64_t>(v.Length);
    const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    v.Value &= mask;
    v.Unknown = v.Value == mask;
  }
  return v;
}

// Top-level EBML elements: the EBML header, then the segment.
std::optional<std::uint64_t> EbmlSize(std::istream& In) {
  std::uint64_t end = 0;
  for (int i = 0; i < 2; ++i) {
    const std::optional<TVint> id = ReadVint(In, end, false);
    if (!id || id->Length > 4) {
      return std::nullopt;
    }
    const std::optional<TVint> size = ReadVint(In, end + id->Length, true);
    if (!size || size->Unknown) {
      return std::nullopt;
    }
    const std::optional<std::uint64_t> next =
        Add(end + static_cast<std::uint64_t>(id->Length + size->Length), size->Value);
    if (!next) {
      return std::nullopt;
    }
    end = *next;
  }
  return end;
}

}  // namespace

std::optional<std::uint64_t> DeclaredContainerSize(std::istream& In) {
  std::array<std::uint8_t, 12> head{};
  if (!ReadAt(In, 0, head.data(), head.size())) {
    return std::nullopt;
  }
  if (std::memcmp(head.data(), "RIFF", 4) == 0) {
    return RiffSize(In);
  }
  if (std::memcmp(head.data(), "\x1A\x45\xDF\xA3", 4) == 0) {
    return EbmlSize(In);
  }
  for (const char* type : {"ftyp", "moov", "mdat", "free", "skip", "wide"}) {
    if (std::memcmp(head.data() + 4, type, 4) == 0) {
      return BoxesSize(In);
    }
  }
  return std::nullopt;
}

std::string CutOffReason(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(Path, ec);
  if (!in || ec) {
    return {};
  }
  const std::optional<std::uint64_t> declared = DeclaredContainerSize(in);
  if (!declared || *declared <= size) {
    return {};
  }
  return "the file has " + std::to_string(size) + " of the " + std::to_string(*declared) +
         " bytes its container declares: it is cut off";
}

}  // namespace pavrel::track
