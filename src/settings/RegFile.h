#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavrel {

// Value types as the registry numbers them.
enum : std::uint32_t { REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

// One value of a registry export: its type and bytes, and its text as it stood in the file,
// so that values the program does not own are written back unchanged.
struct TRegValue {
  std::string Name;  // unescaped, UTF-8; empty for the default value "@"
  bool IsDefault = false;
  std::uint32_t Type = 0;
  std::string Data;  // the bytes (dword: 4 bytes little-endian); REG_SZ: the UTF-8 text
  std::string Raw;   // the value's line(s) without the final line break
};

// A line inside a key: a value, or a comment kept as it is.
struct TRegItem {
  std::string Raw;
  std::optional<TRegValue> Value;
};

struct TRegKey {
  std::string Name;
  std::vector<TRegItem> Items;
  // The value of that name (names compare case-insensitively, as in the registry).
  const TRegValue* FindValue(std::string_view ValueName) const;
};

// A file in the registry editor's export format, version 5.00 (also read: "REGEDIT4").
// Read as UTF-8 (with or without a byte-order mark) or as UTF-16LE with its mark; written
// as UTF-8. A key that appears twice is merged, a value that appears twice keeps the last.
class TRegFile {
 public:
  // Nothing when the text is not such a file (a wrong header, a line that is neither a key,
  // a value nor a comment, a value whose data is malformed or cut short).
  static std::optional<TRegFile> Parse(std::string_view Bytes);
  std::string Serialize() const;

  const TRegKey* FindKey(std::string_view KeyName) const;
  // Sets a value, creating the key at the end when missing; the value keeps its place
  // when it exists already.
  void SetValue(std::string_view KeyName, std::string_view ValueName, std::uint32_t Type,
                std::string_view Data);

  const std::vector<TRegKey>& Keys() const { return FKeys; }

 private:
  TRegKey& Key(std::string_view KeyName);

  std::vector<std::string> FPreamble;  // comments between the header and the first key
  std::vector<TRegKey> FKeys;
};

}  // namespace pavrel
