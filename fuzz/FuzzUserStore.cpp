// The per-user store's reader. Beyond not crashing: whatever parses must survive a write
// and a second reading with the same values.

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/RegFile.h"
#include "settings/Settings.h"

namespace {

// Field by field (the record has padding); the ratio by its bits, so that NaN compares.
bool SameBits(pavrel::TTrackerParameters A, pavrel::TTrackerParameters B) {
  const bool ratio = std::bit_cast<std::uint64_t>(A.HeightToWidthRatio) ==
                     std::bit_cast<std::uint64_t>(B.HeightToWidthRatio);
  A.HeightToWidthRatio = B.HeightToWidthRatio = 0;
  return ratio && A == B;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  pavrel::TTrackerParameters first = pavrel::DefaultParameters();
  const bool parsed = pavrel::ReadUserStoreText(text, first);

  const auto file = pavrel::TRegFile::Parse(text);
  if (file.has_value() != parsed) {
    std::abort();
  }
  if (!file) {
    if (!SameBits(first, pavrel::DefaultParameters())) {
      std::abort();  // an unparseable store must change nothing
    }
    return 0;
  }
  const std::string written = file->Serialize();
  pavrel::TTrackerParameters second = pavrel::DefaultParameters();
  if (!pavrel::ReadUserStoreText(written, second) || !SameBits(first, second)) {
    std::abort();
  }
  return 0;
}
