// Settings files (.pvl): an XML document "parameters" with one element per parameter.

#include <QDomDocument>
#include <QLocale>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <array>
#include <charconv>
#include <cmath>
#include <optional>

#include "settings/AtomicFile.h"
#include "settings/ParameterFields.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

// Far more than any settings file needs (a saved one is about 300 bytes); a larger file is
// refused while it is read, before it fills memory or keeps the window busy.
constexpr std::size_t kMaxFileSize = 1u << 20;
// A saved file nests two levels deep; deeper nesting is refused as soon as it is met.
constexpr int kMaxNesting = 64;
// The most of a value an error message quotes, in characters.
constexpr qsizetype kQuotedLength = 40;

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

// The Line-th line (from 1) of Text without its line break, or nothing.
QStringView NthLine(QStringView Text, int Line) {
  qsizetype begin = 0;
  for (int n = 1; n < Line; ++n) {
    const qsizetype next = Text.indexOf(u'\n', begin);
    if (next < 0) {
      return {};
    }
    begin = next + 1;
  }
  const qsizetype end = Text.indexOf(u'\n', begin);
  return Text.sliced(begin, (end < 0 ? Text.size() : end) - begin);
}

// The parser's reason, "Line: n" and the first 40 characters of the offending line.
std::string ParseErrorMessage(const QByteArray& Data, const QString& Reason, int Line) {
  QString source;
  if (Line >= 1 && (Data.startsWith("\xFF\xFE") || Data.startsWith("\xFE\xFF"))) {
    const bool little = Data.startsWith("\xFF\xFE");
    QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString text = decoder(QByteArrayView(Data).sliced(2));
    source = NthLine(text, Line).toString();
  } else if (Line >= 1) {
    // UTF-8 keeps line breaks as single bytes, so only the start of the line is decoded: a
    // file may be megabytes on one line. 40 characters take at most 160 bytes.
    QByteArrayView line;
    qsizetype begin = 0;
    bool found = true;
    for (int n = 1; n < Line && found; ++n) {
      const qsizetype next = Data.indexOf('\n', begin);
      found = next >= 0;
      begin = next + 1;
    }
    if (found) {
      const qsizetype end = Data.indexOf('\n', begin);
      line = QByteArrayView(Data).sliced(begin, (end < 0 ? Data.size() : end) - begin);
      line = line.first(std::min<qsizetype>(line.size(), 4 * 40 + 4));
      // A byte-order mark counts as a character except at the very start of the file.
      QStringDecoder decoder(
          QStringDecoder::Utf8,
          begin == 0 ? QStringDecoder::Flag::Stateless
                     : QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
      source = decoder(line);
    }
  }
  if (source.endsWith(u'\r')) {
    source.chop(1);
  }
  // 40 characters, not 40 UTF-16 units: never cut a character in two.
  const QList<uint> codePoints = source.toUcs4();
  const QString first40 =
      QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()),
                        std::min<qsizetype>(codePoints.size(), 40));
  return (Reason + QStringLiteral("\nLine: ") + QString::number(Line) + u'\n' + first40)
      .toStdString();
}

// At most kQuotedLength characters of a value, with an ellipsis when it is longer: a
// mistaken file may hold megabytes in one element.
std::string Quoted(const QString& Text) {
  qsizetype end = 0;
  for (qsizetype count = 0; end < Text.size() && count < kQuotedLength; ++count) {
    end += Text[end].isHighSurrogate() && end + 1 < Text.size() ? 2 : 1;
  }
  if (end == Text.size()) {
    return Text.toStdString();
  }
  return Text.first(end).toStdString() + "\u2026";
}

// What a parameter's element holds: the first of its child nodes, if it is text, and how
// many there are. White space alone is no node, as in a document object model.
struct TElementNodes {
  bool Found = false;
  int Count = 0;
  bool FirstIsText = false;
  QString FirstText;

  void Add(bool IsText, QStringView Text) {
    if (Count++ == 0) {
      FirstIsText = IsText;
      if (IsText) {
        FirstText = Text.toString();
      }
    }
  }
  // Empty for a missing or empty element; an error unless it holds one text node.
  QString Text() const {
    if (Count == 0) {
      return {};
    }
    if (Count != 1 || !FirstIsText) {
      throw ESettingsError("Element does not contain a single text node");
    }
    return FirstText;
  }
};

// One pass over the document, keeping only the ten parameters' elements (the first of each
// name among the document element's children). Errors are raised as the parser meets them,
// with the parser's reason, so that a file is judged as a document object model judges it.
void ReadDocument(const QByteArray& Bytes,
                  std::array<TElementNodes, kParameterReadOrder.size()>& Elements) {
  QXmlStreamReader reader(Bytes);
  reader.setNamespaceProcessing(false);
  const auto fail = [&](const QString& Reason) {
    throw ESettingsError(ParseErrorMessage(Bytes, Reason, static_cast<int>(reader.lineNumber())));
  };
  // The prolog: declaration, document type, comments and processing instructions.
  bool sawDtd = false;
  bool inProlog = true;
  while (inProlog && !reader.atEnd()) {
    reader.readNext();
    if (reader.hasError()) {
      fail(reader.errorString());
    }
    switch (reader.tokenType()) {
      case QXmlStreamReader::DTD:
        if (sawDtd) {
          fail(QStringLiteral("Multiple DTD sections are not allowed"));
        }
        sawDtd = true;
        break;
      case QXmlStreamReader::StartDocument:
      case QXmlStreamReader::Comment:
      case QXmlStreamReader::ProcessingInstruction:
        break;
      default:
        inProlog = false;
    }
  }

  int depth = 0;                       // elements open; 1 inside the document element
  TElementNodes* parameter = nullptr;  // the parameter element being read, if any
  while (!reader.atEnd() && !reader.hasError()) {
    switch (reader.tokenType()) {
      case QXmlStreamReader::StartElement:
        if (++depth > kMaxNesting) {
          fail(QStringLiteral("Elements are nested more than %1 levels deep").arg(kMaxNesting));
        }
        if (depth == 3 && parameter) {
          parameter->Add(false, {});
        } else if (depth == 2) {
          for (std::size_t i = 0; i < kParameterReadOrder.size(); ++i) {
            if (!Elements[i].Found &&
                reader.qualifiedName() == QLatin1String(kParameterReadOrder[i].Name)) {
              Elements[i].Found = true;
              parameter = &Elements[i];
              break;
            }
          }
        }
        break;
      case QXmlStreamReader::EndElement:
        if (--depth == 1) {
          parameter = nullptr;
        }
        break;
      case QXmlStreamReader::Characters:
        if (reader.isWhitespace() || (!reader.isCDATA() && reader.text().trimmed().isEmpty())) {
          break;
        }
        if (depth == 0) {
          fail(QStringLiteral("Error occurred while processing the element content"));
        }
        if (depth == 2 && parameter) {
          parameter->Add(true, reader.text());
        }
        break;
      case QXmlStreamReader::Comment:
      case QXmlStreamReader::ProcessingInstruction:
      case QXmlStreamReader::EntityReference:
        if (depth == 2 && parameter) {
          parameter->Add(false, {});
        }
        break;
      default:
        fail(QStringLiteral("Unexpected token"));
    }
    reader.readNext();
  }
  if (reader.hasError()) {
    fail(reader.errorString());
  }
  if (depth != 0) {
    fail(QStringLiteral("Tag mismatch"));
  }
}

}  // namespace

std::string SettingsText(const TTrackerParameters& Params) {
  // "inf" or "nan" would make a file that no reader takes back.
  if (!std::isfinite(Params.HeightToWidthRatio)) {
    throw ESettingsError("the height to width ratio " + std::to_string(Params.HeightToWidthRatio) +
                         " is not a finite number");
  }
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
  std::array<TElementNodes, kParameterReadOrder.size()> elements{};
  ReadDocument(bytes, elements);
  // All ten are converted before any is stored, so a broken file changes nothing.
  TTrackerParameters loaded = Params;
  // The reading order decides which error a file with several faults reports.
  for (std::size_t i = 0; i < kParameterReadOrder.size(); ++i) {
    const TParameterField& field = kParameterReadOrder[i];
    const QString text = elements[i].Text();
    if (field.Integer) {
      const auto value = ParseInteger(text);
      if (!value) {
        throw ESettingsError("'" + Quoted(text) + "' is not a valid integer value");
      }
      loaded.*field.Integer = *value;
    } else {
      const auto value = ParseFloat(text);
      if (!value) {
        throw ESettingsError("'" + Quoted(text) + "' is not a valid floating point value");
      }
      loaded.HeightToWidthRatio = *value;
    }
  }
  Params = loaded;
}

void SaveSettingsFile(const TTrackerParameters& Params, const std::string& FileName) {
  try {
    ReplaceFileAtomically(FileName, SettingsText(Params));
  } catch (const std::runtime_error& e) {
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
