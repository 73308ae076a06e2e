// The learned colour model's stored text. Beyond not crashing: whatever parses must give the
// same examples back through its own text, and compile into a model.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tracking/SkinModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  const auto examples = pavrel::TSkinExamples::FromText(text);
  if (!examples) {
    return 0;
  }
  const auto again = pavrel::TSkinExamples::FromText(examples->ToText());
  if (!again || !(*again == *examples)) {
    std::abort();
  }
  const pavrel::TSkinModel model(*examples);
  (void)model.IsSkin({10, 20, 30});
  return 0;
}
