// Settings files (.pvl): an XML document "parameters" with one element per parameter.

#include <QDomDocument>
#include <QLocale>
#include <QString>
#include <QStringDecoder>

#include <array>
#include <charconv>
#include <cmath>
#include <optional>

#include "settings/AtomicFile.h"
#include "settings/ParameterFields.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

// More than any settings file needs; keeps a mistaken choice of file from filling memory.
constexpr std::size_t kMaxFileSize = 16u << 20;

// Value bounds are written before saturation bounds.
constexpr std::array<TParameterField, 10> kWriteOrder{{
    {"LHueBound", &TTrackerParameters::LHueBound},
    {"HHueBound", &TTrackerParameters::HHueBound},
    {"LValBound", &TTrackerParameters::LValBound},
    {"HValBound", &TTrackerParameters::HValBound},
    {"LSatBound", &TTrackerParameters::LSatBound},
    {"HSatBound", &TTrackerParameters::HSatBound},
    {"MeanThreshold", &TTrackerParameters::MeanThreshold},
    {"WindowExpansion", &TTrackerParameters::WindowExpansion},
    {"HeightToWidthRatio", nullptr},
    {"LoseTrackArea", &TTrackerParameters::LoseTrackArea},
}};

QString DecimalSeparator() {
  return QLocale::system().decimalPoint();
}

// "%f" with two decimals: no grouping, no exponent, the locale's decimal separator.
QString FormatRatio(double Value) {
  char buffer[400];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::fixed, 2);
  QString text = QString::fromLatin1(buffer, ec == std::errc() ? end - buffer : 0);
  return text.replace(QLatin1Char('.'), DecimalSeparator());
}

bool IsXmlSpace(QChar C) {
  return C == u' ' || C == u'\t' || C == u'\r' || C == u'\n';
}

// White space around a number is allowed, as between elements.
QString Trimmed(const QString& Text) {
  qsizetype begin = 0;
  qsizetype end = Text.size();
  while (begin < end && IsXmlSpace(Text[begin])) {
    ++begin;
  }
  while (end > begin && IsXmlSpace(Text[end - 1])) {
    --end;
  }
  return Text.mid(begin, end - begin);
}

bool IsDigit(QChar C) {
  return C >= u'0' && C <= u'9';
}

// Decimal integer text: an optional sign and digits, within 32 bits.
std::optional<std::int32_t> ParseInteger(const QString& Text) {
  const QString t = Trimmed(Text);
  qsizetype i = 0;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
    ++i;
  }
  if (i == t.size()) {
    return std::nullopt;
  }
  for (qsizetype k = i; k < t.size(); ++k) {
    if (!IsDigit(t[k])) {
      return std::nullopt;
    }
  }
  const std::string digits = t.mid(t[0] == u'+' ? 1 : 0).toStdString();
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

// Floating-point text with the locale's decimal separator: sign, digits, separator, digits,
// exponent; finite values only.
std::optional<double> ParseFloat(const QString& Text) {
  const QString t = Trimmed(Text);
  const QString separator = DecimalSeparator();
  std::string plain;  // the same number with a full stop, for from_chars
  qsizetype i = 0;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
    if (t[i] == u'-') {
      plain += '-';
    }
    ++i;
  }
  int digits = 0;
  while (i < t.size() && IsDigit(t[i])) {
    plain += static_cast<char>(t[i++].unicode());
    ++digits;
  }
  if (!separator.isEmpty() && QStringView(t).mid(i).startsWith(separator)) {
    i += separator.size();
    plain += '.';
    while (i < t.size() && IsDigit(t[i])) {
      plain += static_cast<char>(t[i++].unicode());
      ++digits;
    }
  }
  if (digits == 0) {
    return std::nullopt;
  }
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    plain += 'e';
    ++i;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
      plain += static_cast<char>(t[i++].unicode());
    }
    if (i == t.size() || !IsDigit(t[i])) {
      return std::nullopt;
    }
    while (i < t.size() && IsDigit(t[i])) {
      plain += static_cast<char>(t[i++].unicode());
    }
  }
  if (i != t.size()) {
    return std::nullopt;
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// The text of a parameter's element: empty when the element is missing, an error when it
// holds anything but one text node.
QString ElementText(const QDomElement& Root, const char* Name) {
  const QDomElement element = Root.firstChildElement(QString::fromLatin1(Name));
  const QDomNodeList children = element.childNodes();
  if (children.isEmpty()) {
    return {};
  }
  const QDomNode child = children.at(0);
  if (children.size() != 1 || !(child.isText() || child.isCDATASection())) {
    throw ESettingsError("Element does not contain a single text node");
  }
  return child.nodeValue();
}

// The parser's reason, "Line: n" and the first 40 characters of the offending line.
std::string ParseErrorMessage(const QByteArray& Data, const QString& Reason, int Line) {
  QString text;
  if (Data.startsWith("\xFF\xFE") || Data.startsWith("\xFE\xFF")) {
    const bool little = Data.startsWith("\xFF\xFE");
    QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    text = decoder(QByteArrayView(Data).sliced(2));
  } else {
    text = QString::fromUtf8(Data);
  }
  QString source;
  if (Line >= 1) {
    const QStringList lines = text.split(u'\n');
    if (Line <= lines.size()) {
      source = lines[Line - 1];
      if (source.endsWith(u'\r')) {
        source.chop(1);
      }
    }
  }
  // 40 characters, not 40 UTF-16 units: never cut a character in two.
  const QList<uint> codePoints = source.toUcs4();
  const QString first40 =
      QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()),
                        std::min<qsizetype>(codePoints.size(), 40));
  return (Reason + QStringLiteral("\nLine: ") + QString::number(Line) + u'\n' + first40)
      .toStdString();
}

}  // namespace

std::string SettingsText(const TTrackerParameters& Params) {
  QDomDocument document;
  QDomElement root = document.createElement(QStringLiteral("parameters"));
  document.appendChild(root);
  for (const auto& field : kWriteOrder) {
    QDomElement element = document.createElement(QString::fromLatin1(field.Name));
    const QString text = field.Integer ? QString::number(Params.*field.Integer)
                                       : FormatRatio(Params.HeightToWidthRatio);
    element.appendChild(document.createTextNode(text));
    root.appendChild(element);
  }
  return document.toByteArray(-1).toStdString();
}

void ReadSettingsText(std::string_view Data, TTrackerParameters& Params) {
  const QByteArray bytes(Data.data(), static_cast<qsizetype>(Data.size()));
  QDomDocument document;
  QString reason;
  int line = 0;
  int column = 0;
  if (!document.setContent(bytes, &reason, &line, &column)) {
    throw ESettingsError(ParseErrorMessage(bytes, reason, line));
  }
  const QDomElement root = document.documentElement();
  // All ten are converted before any is stored, so a broken file changes nothing.
  TTrackerParameters loaded = Params;
  // The reading order decides which error a file with several faults reports.
  for (const auto& field : kParameterReadOrder) {
    const QString text = ElementText(root, field.Name);
    if (field.Integer) {
      const auto value = ParseInteger(text);
      if (!value) {
        throw ESettingsError("'" + text.toStdString() + "' is not a valid integer value");
      }
      loaded.*field.Integer = *value;
    } else {
      const auto value = ParseFloat(text);
      if (!value) {
        throw ESettingsError("'" + text.toStdString() + "' is not a valid floating point value");
      }
      loaded.HeightToWidthRatio = *value;
    }
  }
  Params = loaded;
}

void SaveSettingsFile(const TTrackerParameters& Params, const std::string& FileName) {
  try {
    ReplaceFileAtomically(FileName, SettingsText(Params));
  } catch (const EFileError& e) {
    throw ESettingsError("Cannot save the settings file \"" + FileName + "\": " + e.what());
  }
}

void OpenSettingsFile(const std::string& FileName, TTrackerParameters& Params) {
  std::string data;
  try {
    data = ReadWholeFile(FileName, kMaxFileSize);
  } catch (const EFileError& e) {
    throw ESettingsError("Cannot open the settings file \"" + FileName + "\": " + e.what());
  }
  ReadSettingsText(data, Params);
}

}  // namespace pavrel
