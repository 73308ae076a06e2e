#pragma once

#include <QString>

namespace pavrel {

// The XDG autostart entry that starts Pavrel with the user's session, tracking from the
// last source: $XDG_CONFIG_HOME/autostart/pavrel.desktop (~/.config when unset or empty).
QString AutostartEntryPath();
bool AutostartEntryExists();

// The entry's text; Program is started with --start-tracking.
QString AutostartEntryText(const QString& Program);

// Writes the entry (replacing it atomically) or removes it. Raises std::runtime_error with a
// message naming the file when that fails.
void SetAutostartEntry(bool Enabled, const QString& Program);

// The program the entry starts: this executable when it is pavrel, else pavrel from PATH.
QString AutostartProgram();

// The per-user store value that names the last source: "file:PATH" or "device:NAME".
inline constexpr const char* kLastSourceValue = "LastSource";

}  // namespace pavrel
