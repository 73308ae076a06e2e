#include "settings/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "settings/AtomicFile.h"
#include "settings/ParameterFields.h"
#include "settings/RegFile.h"

namespace pavrel {
namespace {

constexpr std::string_view kStoreKey = "HKEY_CURRENT_USER\\Software\\Quillon software\\Pavrel";
// Far more than any store holds; a larger file is not read into memory.
constexpr std::size_t kMaxStoreSize = 64u << 20;

std::string LittleEndian(std::uint64_t Bits, int Bytes) {
  std::string data;
  for (int i = 0; i < Bytes; ++i) {
    data += static_cast<char>(Bits >> (8 * i) & 0xFF);
  }
  return data;
}

std::uint64_t FromLittleEndian(std::string_view Data) {
  std::uint64_t bits = 0;
  for (std::size_t i = Data.size(); i-- > 0;) {
    bits = bits << 8 | static_cast<unsigned char>(Data[i]);
  }
  return bits;
}

// A readable file that cannot be parsed is kept beside the store before the store is
// replaced: Pavrel.reg.bad, or Pavrel.reg.bad.1, .2 ... when earlier ones exist.
bool KeepBadStore(const std::filesystem::path& Path, std::string_view Bytes) {
  for (int n = 0; n < 1000; ++n) {
    std::filesystem::path bad = Path;
    bad += n == 0 ? std::string(".bad") : ".bad." + std::to_string(n);
    try {
      CreateFileExclusively(bad, Bytes);
      return true;
    } catch (const EFileError&) {
      std::error_code ec;
      if (!std::filesystem::exists(bad, ec)) {
        return false;
      }
    }
  }
  return false;
}

}  // namespace

TTrackerParameters DefaultParameters() {
  TTrackerParameters params;
  params.LHueBound = 0;
  params.HHueBound = 255;
  params.LSatBound = 0;
  params.HSatBound = 255;
  params.LValBound = 0;
  params.HValBound = 255;
  params.HeightToWidthRatio = 1.72;
  params.LoseTrackArea = 200;
  params.MeanThreshold = 1;
  params.WindowExpansion = 5;
  return params;
}

// Not QStandardPaths: Qt 6.4 takes a relative XDG_CONFIG_HOME as it is (the base-directory
// rules say to ignore it) and, with HOME unset, answers "//.config".
std::filesystem::path UserStorePath() {
  std::filesystem::path config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* entry = ::getpwuid(::getuid());
      home = entry ? entry->pw_dir : "";
    }
    config = std::filesystem::path(home) / ".config";
  }
  return config / "Quillon software" / "Pavrel.reg";
}

bool ReadUserStoreText(std::string_view Text, TTrackerParameters& Params) {
  const auto file = TRegFile::Parse(Text);
  if (!file) {
    return false;
  }
  const TRegKey* key = file->FindKey(kStoreKey);
  if (!key) {
    return true;
  }
  for (const auto& field : kParameterReadOrder) {
    const TRegValue* value = key->FindValue(field.Name);
    if (field.Integer) {
      if (!value || value->Type != REG_DWORD || value->Data.size() != 4) {
        break;
      }
      Params.*field.Integer = static_cast<std::int32_t>(FromLittleEndian(value->Data));
    } else {
      if (!value || value->Type != REG_BINARY || value->Data.size() != 8) {
        break;
      }
      const std::uint64_t bits = FromLittleEndian(value->Data);
      std::memcpy(&Params.HeightToWidthRatio, &bits, sizeof bits);
    }
  }
  return true;
}

void ReadUserStore(TTrackerParameters& Params, const std::filesystem::path& Path) {
  try {
    ReadUserStoreText(ReadWholeFile(Path, kMaxStoreSize), Params);
  } catch (...) {
    // No store, or none that can be read: the values keep what they have.
  }
}

namespace {

// Reads the store (or starts a new one), lets Change set values, and replaces the file
// atomically. False when nothing could be written, with the place and the reason in Error.
template <typename TChange>
bool UpdateUserStore(const std::filesystem::path& Path, std::string* Error, TChange Change) {
  const auto fail = [&](const std::filesystem::path& Where, const std::string& Reason) {
    if (Error) {
      *Error = "The settings could not be saved in \"" + Where.string() + "\": " + Reason;
    }
    return false;
  };
  try {
    std::error_code ec;
    std::filesystem::create_directories(Path.parent_path(), ec);
    if (ec) {
      return fail(Path.parent_path(), ec.message());
    }
    std::optional<TRegFile> file;
    std::string old;
    const auto status = std::filesystem::status(Path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
      file.emplace();
    } else {
      // A store that exists but cannot be read is left alone: writing would lose what the
      // user has in it.
      try {
        old = ReadWholeFile(Path, kMaxStoreSize);
      } catch (const EFileError& e) {
        return fail(Path, std::string("the store cannot be read (") + e.what() +
                              "), so it is left as it is");
      }
      file = TRegFile::Parse(old);
      if (!file) {
        if (!KeepBadStore(Path, old)) {
          return fail(Path,
                      "the store cannot be parsed and no copy of it could be kept beside it, so "
                      "it is left as it is");
        }
        file.emplace();
      }
    }
    Change(*file);
    ReplaceFileAtomically(Path, file->Serialize());
    return true;
  } catch (const std::exception& e) {
    return fail(Path, e.what());
  } catch (...) {
    return fail(Path, "unknown error");
  }
}

}  // namespace

bool WriteUserStore(const TTrackerParameters& Params, const std::filesystem::path& Path,
                    std::string* Error) {
  return UpdateUserStore(Path, Error, [&](TRegFile& File) {
    for (const auto& field : kParameterReadOrder) {
      if (field.Integer) {
        File.SetValue(kStoreKey, field.Name, REG_DWORD,
                      LittleEndian(static_cast<std::uint32_t>(Params.*field.Integer), 4));
      } else {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &Params.HeightToWidthRatio, sizeof bits);
        File.SetValue(kStoreKey, field.Name, REG_BINARY, LittleEndian(bits, 8));
      }
    }
  });
}

TStoreValues ReadUserStoreValues(const std::filesystem::path& Path) {
  TStoreValues values;
  try {
    const auto file = TRegFile::Parse(ReadWholeFile(Path, kMaxStoreSize));
    const TRegKey* key = file ? file->FindKey(kStoreKey) : nullptr;
    if (key) {
      for (const TRegItem& item : key->Items) {
        if (item.Value && !item.Value->IsDefault && item.Value->Type == REG_SZ) {
          values[item.Value->Name] = item.Value->Data;
        }
      }
    }
  } catch (...) {
    // No store, or none that can be read: no values.
  }
  return values;
}

bool WriteUserStoreValues(const TStoreValues& Values, const std::filesystem::path& Path,
                          std::string* Error) {
  return UpdateUserStore(Path, Error, [&](TRegFile& File) {
    for (const auto& [name, text] : Values) {
      File.SetValue(kStoreKey, name, REG_SZ, text);
    }
  });
}

}  // namespace pavrel
