#pragma once

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tracking/TrackerTypes.h"

namespace pavrel {

// Raised by the settings-file operations; the message is what the user is shown.
class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The main window's start-up defaults: bounds 0 and 255, ratio 1.72, area 200, threshold 1,
// expansion 5.
TTrackerParameters DefaultParameters();

// $XDG_CONFIG_HOME/Quillon software/Pavrel.reg ($HOME/.config when unset or empty).
std::filesystem::path UserStorePath();

// Reads the per-user store over Params, value by value; the first failing read ends it
// silently. Never throws.
void ReadUserStore(TTrackerParameters& Params, const std::filesystem::path& Path = UserStorePath());

// Writes Params to the per-user store, replacing the file atomically and keeping foreign
// keys and values. Returns false when nothing could be written, leaving the old store as it
// was; Error, when given, then says where and why ("The settings could not be saved in
// \"PATH\": Permission denied"). Never throws.
bool WriteUserStore(const TTrackerParameters& Params,
                    const std::filesystem::path& Path = UserStorePath(),
                    std::string* Error = nullptr);

// Settings that came after the ten parameters live beside them in the store's key as text
// values (REG_SZ), one a name, so the ten values' layout never changes. Each feature names
// and parses its own values; a value it cannot parse counts as unset.
using TStoreValues = std::map<std::string, std::string>;

// Every text value of the program's key, by name. Empty when there is no store or none
// that can be read. Never throws.
TStoreValues ReadUserStoreValues(const std::filesystem::path& Path = UserStorePath());

// Sets these text values, keeping every other value, key and comment, and replaces the
// file atomically. Returns false when nothing could be written, with Error as for
// WriteUserStore. Never throws.
bool WriteUserStoreValues(const TStoreValues& Values,
                          const std::filesystem::path& Path = UserStorePath(),
                          std::string* Error = nullptr);

// Saves a settings file (.pvl). Raises ESettingsError with a message naming the file, also
// for a ratio that is not a finite number (nothing could read it back).
void SaveSettingsFile(const TTrackerParameters& Params, const std::string& FileName);

// Opens a settings file: all ten values or none. Raises ESettingsError with the message.
// A file larger than 1 MiB is refused as it is read.
void OpenSettingsFile(const std::string& FileName, TTrackerParameters& Params);

// The per-user store's text read over Params, value by value, as ReadUserStore does.
// Answers false, leaving Params alone, when the text cannot be parsed at all.
bool ReadUserStoreText(std::string_view Text, TTrackerParameters& Params);

// The bytes SaveSettingsFile writes, and the reading of a settings file's bytes (all ten
// values or none; raises ESettingsError). Reading takes one pass, in time linear in the
// bytes; elements nested more than 64 levels deep are refused where they are met, and an
// error message quotes at most 40 characters of a value.
std::string SettingsText(const TTrackerParameters& Params);
void ReadSettingsText(std::string_view Data, TTrackerParameters& Params);

}  // namespace pavrel
