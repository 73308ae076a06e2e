#include "settings/RegFile.h"

#include <QString>
#include <QStringDecoder>

#include <charconv>
#include <cstdio>
#include <unordered_map>

namespace pavrel {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

std::string_view TrimRight(std::string_view S) {
  while (!S.empty() && IsBlank(S.back())) {
    S.remove_suffix(1);
  }
  return S;
}

std::string_view TrimLeft(std::string_view S) {
  while (!S.empty() && IsBlank(S.front())) {
    S.remove_prefix(1);
  }
  return S;
}

// Registry names compare without regard to case.
std::string Folded(std::string_view S) {
  return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size())).toCaseFolded().toStdString();
}

bool EqualNoCase(std::string_view A, std::string_view B) {
  return A == B || Folded(A) == Folded(B);
}

// Exactly Digits.size() hex digits, the whole of Digits (no sign, prefix or blank).
template <typename TNumber>
std::optional<TNumber> ParseHex(std::string_view Digits) {
  TNumber value = 0;
  const char* end = Digits.data() + Digits.size();
  const auto [stop, ec] = std::from_chars(Digits.data(), end, value, 16);
  if (Digits.empty() || ec != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

// The file's text as UTF-8, or nothing when it is not text.
std::optional<std::string> DecodeText(std::string_view Bytes) {
  std::string text;
  if (Bytes.size() >= 2 && static_cast<unsigned char>(Bytes[0]) == 0xFF &&
      static_cast<unsigned char>(Bytes[1]) == 0xFE) {
    Bytes.remove_prefix(2);
    if (Bytes.size() % 2 != 0) {
      return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
    const QString decoded =
        decoder(QByteArrayView(Bytes.data(), static_cast<qsizetype>(Bytes.size())));
    if (decoder.hasError()) {
      return std::nullopt;
    }
    text = decoded.toStdString();
  } else {
    if (Bytes.starts_with("\xEF\xBB\xBF")) {
      Bytes.remove_prefix(3);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded =
        decoder(QByteArrayView(Bytes.data(), static_cast<qsizetype>(Bytes.size())));
    if (decoder.hasError()) {
      return std::nullopt;
    }
    text.assign(Bytes);
  }
  if (text.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return text;
}

std::vector<std::string_view> SplitLines(std::string_view Text) {
  std::vector<std::string_view> lines;
  while (!Text.empty()) {
    const auto end = Text.find('\n');
    std::string_view line = Text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    if (end == std::string_view::npos) {
      break;
    }
    Text.remove_prefix(end + 1);
  }
  return lines;
}

// A quoted string starting at S[0] == '"', with \\ and \" escaped; the rest of S is left in
// S. Nothing when the closing quote is missing.
std::optional<std::string> TakeQuoted(std::string_view& S) {
  std::string result;
  std::size_t i = 1;
  for (; i < S.size(); ++i) {
    if (S[i] == '\\' && i + 1 < S.size()) {
      result += S[++i];
    } else if (S[i] == '"') {
      S.remove_prefix(i + 1);
      return result;
    } else {
      result += S[i];
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view S) {
  std::string result = "\"";
  for (const char c : S) {
    if (c == '\\' || c == '"') {
      result += '\\';
    }
    result += c;
  }
  return result + '"';
}

// "xx,xx,..." with exactly two hex digits per byte; blanks around bytes are allowed.
std::optional<std::string> ParseHexBytes(std::string_view S) {
  std::string bytes;
  S = TrimLeft(TrimRight(S));
  if (S.empty()) {
    return bytes;
  }
  for (;;) {
    const auto comma = S.find(',');
    const std::string_view token = TrimLeft(TrimRight(S.substr(0, comma)));
    const auto byte = token.size() == 2 ? ParseHex<std::uint8_t>(token) : std::nullopt;
    if (!byte) {
      return std::nullopt;
    }
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) {
      return bytes;
    }
    S.remove_prefix(comma + 1);
  }
}

std::string HexBytes(std::string_view Data) {
  std::string result;
  char buffer[4];
  for (std::size_t i = 0; i < Data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x",
                  static_cast<unsigned char>(Data[i]));
    result += buffer;
  }
  return result;
}

std::string ValueText(const TRegValue& Value) {
  std::string text = Value.IsDefault ? std::string("@") : Quote(Value.Name);
  text += '=';
  char buffer[32];
  if (Value.Type == REG_DWORD && Value.Data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
      v = v << 8 | static_cast<unsigned char>(Value.Data[static_cast<std::size_t>(i)]);
    }
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    text += buffer;
  } else if (Value.Type == REG_SZ) {
    text += Quote(Value.Data);
  } else if (Value.Type == REG_BINARY) {
    text += "hex:" + HexBytes(Value.Data);
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", Value.Type);
    text += buffer + HexBytes(Value.Data);
  }
  return text;
}

// Parses the value starting at Lines[I], which may continue over the following lines
// (hex data ending in a backslash); advances I past it.
std::optional<TRegValue> ParseValue(const std::vector<std::string_view>& Lines, std::size_t& I) {
  TRegValue value;
  value.Raw.assign(Lines[I]);
  std::string_view rest = TrimLeft(Lines[I]);
  if (rest.front() == '@') {
    value.IsDefault = true;
    rest.remove_prefix(1);
  } else {
    auto name = TakeQuoted(rest);
    if (!name) {
      return std::nullopt;
    }
    value.Name = std::move(*name);
  }
  rest = TrimLeft(rest);
  if (rest.empty() || rest.front() != '=') {
    return std::nullopt;
  }
  rest = TrimLeft(rest.substr(1));

  if (!rest.empty() && rest.front() == '"') {
    auto text = TakeQuoted(rest);
    if (!text || !TrimRight(rest).empty()) {
      return std::nullopt;
    }
    value.Type = REG_SZ;
    value.Data = std::move(*text);
  } else if (rest.starts_with("dword:")) {
    const std::string_view digits = TrimRight(rest.substr(6));
    const auto number = digits.size() == 8 ? ParseHex<std::uint32_t>(digits) : std::nullopt;
    if (!number) {
      return std::nullopt;
    }
    const std::uint32_t v = *number;
    value.Type = REG_DWORD;
    for (int i = 0; i < 4; ++i) {
      value.Data += static_cast<char>(v >> (8 * i) & 0xFF);
    }
  } else if (rest.starts_with("hex")) {
    rest.remove_prefix(3);
    value.Type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      const auto close = rest.find(')');
      if (close == std::string_view::npos || close > 9) {
        return std::nullopt;
      }
      const auto type = ParseHex<std::uint32_t>(rest.substr(1, close - 1));
      if (!type) {
        return std::nullopt;
      }
      value.Type = *type;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      return std::nullopt;
    }
    rest.remove_prefix(1);
    std::string list;
    for (;;) {
      rest = TrimRight(rest);
      if (rest.empty() || rest.back() != '\\') {
        list += rest;
        break;
      }
      list += rest.substr(0, rest.size() - 1);
      if (++I >= Lines.size()) {
        return std::nullopt;  // cut short inside a continued value
      }
      value.Raw += '\n';
      value.Raw += Lines[I];
      rest = TrimLeft(Lines[I]);
    }
    auto bytes = ParseHexBytes(list);
    if (!bytes) {
      return std::nullopt;
    }
    value.Data = std::move(*bytes);
  } else {
    return std::nullopt;
  }
  ++I;
  return value;
}

}  // namespace

const TRegValue* TRegKey::FindValue(std::string_view ValueName) const {
  for (const auto& item : Items) {
    if (item.Value && !item.Value->IsDefault && EqualNoCase(item.Value->Name, ValueName)) {
      return &*item.Value;
    }
  }
  return nullptr;
}

std::optional<TRegFile> TRegFile::Parse(std::string_view Bytes) {
  const auto text = DecodeText(Bytes);
  if (!text) {
    return std::nullopt;
  }
  const auto lines = SplitLines(*text);
  TRegFile file;
  std::size_t i = 0;
  while (i < lines.size() && TrimRight(lines[i]).empty()) {
    ++i;
  }
  if (i == lines.size()) {
    return file;  // an empty file is an empty store
  }
  const std::string_view header = TrimRight(lines[i]);
  if (header != kHeader && header != kOldHeader) {
    return std::nullopt;
  }
  ++i;
  // Keys and values are looked up by folded name while parsing, so that a large file of
  // foreign values is read in linear time.
  std::unordered_map<std::string, std::size_t> keyIndex;
  std::vector<std::unordered_map<std::string, std::size_t>> valueIndex;
  std::size_t current = 0;
  bool inKey = false;
  while (i < lines.size()) {
    const std::string_view line = TrimLeft(lines[i]);
    if (TrimRight(line).empty()) {
      ++i;
    } else if (line.front() == ';') {
      if (inKey) {
        file.FKeys[current].Items.push_back({std::string(lines[i]), std::nullopt});
      } else {
        file.FPreamble.emplace_back(lines[i]);
      }
      ++i;
    } else if (line.front() == '[') {
      const std::string_view trimmed = TrimRight(line);
      if (trimmed.size() < 3 || trimmed.back() != ']' || trimmed[1] == '-') {
        return std::nullopt;
      }
      const std::string_view name = trimmed.substr(1, trimmed.size() - 2);
      const auto [it, added] = keyIndex.try_emplace(Folded(name), file.FKeys.size());
      if (added) {
        file.FKeys.push_back({std::string(name), {}});
        valueIndex.emplace_back();
      }
      current = it->second;
      inKey = true;
      ++i;
    } else if (inKey && (line.front() == '"' || line.front() == '@')) {
      auto value = ParseValue(lines, i);
      if (!value) {
        return std::nullopt;
      }
      auto& items = file.FKeys[current].Items;
      const std::string folded = value->IsDefault ? std::string("@") : '"' + Folded(value->Name);
      const auto [it, added] = valueIndex[current].try_emplace(folded, items.size());
      std::string raw = value->Raw;
      if (added) {
        items.push_back({std::move(raw), std::move(value)});
      } else {
        items[it->second] = {std::move(raw), std::move(value)};
      }
    } else {
      return std::nullopt;
    }
  }
  return file;
}

std::string TRegFile::Serialize() const {
  std::string text(kHeader);
  text += "\n\n";
  for (const auto& line : FPreamble) {
    text += line + '\n';
  }
  if (!FPreamble.empty()) {
    text += '\n';
  }
  for (const auto& key : FKeys) {
    text += '[' + key.Name + "]\n";
    for (const auto& item : key.Items) {
      text += item.Raw + '\n';
    }
    text += '\n';
  }
  return text;
}

const TRegKey* TRegFile::FindKey(std::string_view KeyName) const {
  for (const auto& key : FKeys) {
    if (EqualNoCase(key.Name, KeyName)) {
      return &key;
    }
  }
  return nullptr;
}

TRegKey& TRegFile::Key(std::string_view KeyName) {
  for (auto& key : FKeys) {
    if (EqualNoCase(key.Name, KeyName)) {
      return key;
    }
  }
  FKeys.push_back({std::string(KeyName), {}});
  return FKeys.back();
}

void TRegFile::SetValue(std::string_view KeyName, std::string_view ValueName, std::uint32_t Type,
                        std::string_view Data) {
  TRegValue value;
  value.Name.assign(ValueName);
  value.Type = Type;
  value.Data.assign(Data);
  value.Raw = ValueText(value);
  TRegKey& key = Key(KeyName);
  for (auto& item : key.Items) {
    if (item.Value && !item.Value->IsDefault && EqualNoCase(item.Value->Name, ValueName)) {
      item = {value.Raw, std::move(value)};
      return;
    }
  }
  std::string raw = value.Raw;
  key.Items.push_back({std::move(raw), std::move(value)});
}

}  // namespace pavrel
