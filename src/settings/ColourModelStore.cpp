#include "settings/ColourModelStore.h"

namespace pavrel {

std::optional<TSkinExamples> ReadStoredColourModel(const std::filesystem::path& Path) {
  const TStoreValues values = ReadUserStoreValues(Path);
  const auto model = values.find(ColourModelValueName);
  const auto data = values.find(ColourModelDataValueName);
  if (model == values.end() || model->second != "learned" || data == values.end()) {
    return std::nullopt;
  }
  std::optional<TSkinExamples> examples = TSkinExamples::FromText(data->second);
  if (!examples || examples->SkinCount() == 0) {
    return std::nullopt;
  }
  return examples;
}

bool WriteStoredColourModel(const std::optional<TSkinExamples>& Learned,
                            const std::filesystem::path& Path, std::string* Error) {
  TStoreValues values{{ColourModelValueName, Learned ? "learned" : "seed"}};
  if (Learned) {
    values[ColourModelDataValueName] = Learned->ToText();
  }
  return WriteUserStoreValues(values, Path, Error);
}

}  // namespace pavrel
