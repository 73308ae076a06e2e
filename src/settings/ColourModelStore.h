#pragma once

// The colour model in use and the learned model's examples, kept in the per-user store as
// two text values beside the ten parameters.

#include <filesystem>
#include <optional>

#include "settings/Settings.h"
#include "tracking/SkinModel.h"

namespace pavrel {

// "seed" (the six bounds) or "learned".
inline constexpr const char* ColourModelValueName = "ColourModel";
// TSkinExamples::ToText of the learned model.
inline constexpr const char* ColourModelDataValueName = "ColourModelData";

// The learned model's examples when the store says the learned model is in use and its data
// can be read; nothing otherwise (the seed's model). Never throws.
std::optional<TSkinExamples> ReadStoredColourModel(
    const std::filesystem::path& Path = UserStorePath());

// Stores the model in use: the learned one with its examples, or the seed's (nothing), which
// keeps the last learned data for later. Returns false when nothing could be written, with
// Error as for WriteUserStore.
bool WriteStoredColourModel(const std::optional<TSkinExamples>& Learned,
                            const std::filesystem::path& Path = UserStorePath(),
                            std::string* Error = nullptr);

}  // namespace pavrel
