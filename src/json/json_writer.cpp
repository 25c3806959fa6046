#include "json/json_writer.h"

#include <QFile>
#include <cmath>
#include <cstdio>
#include <string>

#include "json/number_format.h"

namespace tk {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscaped(std::string& out, const QString& s) {
  out.push_back('"');
  for (const QChar qc : s) {
    const char16_t c = qc.unicode();
    switch (c) {
      case 0x08:
        out.append("\\b");
        continue;
      case 0x09:
        out.append("\\t");
        continue;
      case 0x0A:
        out.append("\\n");
        continue;
      case 0x0C:
        out.append("\\f");
        continue;
      case 0x0D:
        out.append("\\r");
        continue;
      case 0x5C:
        out.append("\\\\");
        continue;
      // HTML-sensitive characters and the quote are always written as \u escapes.
      case 0x22:
      case 0x26:
      case 0x27:
      case 0x2B:
      case 0x3C:
      case 0x3E:
      case 0x60:
        break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out.push_back(static_cast<char>(c));
          continue;
        }
    }
    const char esc[6] = {
        '\\',         'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF],
        kHex[c & 0xF]};
    out.append(esc, 6);
  }
  out.push_back('"');
}

void indent(std::string& out, int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); }

[[noreturn]] void throwNonFinite() {
  throw JsonWriteError(
      "Number values such as positive and negative infinity cannot be written as valid JSON.");
}

void write(std::string& out, const JsonValue& v, int level) {
  switch (v.kind()) {
    case JsonValue::Kind::Null:
      out.append("null");
      return;
    case JsonValue::Kind::Bool:
      out.append(v.toBool() ? "true" : "false");
      return;
    case JsonValue::Kind::Int:
      out.append(std::to_string(v.toInt()));
      return;
    case JsonValue::Kind::Double:
      if (!std::isfinite(v.toDouble())) {
        throwNonFinite();
      }
      appendDouble(out, v.toDouble(), kJsonThreshold);
      return;
    case JsonValue::Kind::Float:
      if (!std::isfinite(v.toFloat())) {
        throwNonFinite();
      }
      appendFloat(out, v.toFloat());
      return;
    case JsonValue::Kind::String:
      appendEscaped(out, v.toString());
      return;
    case JsonValue::Kind::Array: {
      const auto& elements = v.elements();
      if (elements.empty()) {
        out.append("[]");
        return;
      }
      out.append("[\n");
      for (std::size_t i = 0; i < elements.size(); ++i) {
        indent(out, level + 1);
        write(out, elements[i], level + 1);
        out.append(i + 1 < elements.size() ? ",\n" : "\n");
      }
      indent(out, level);
      out.push_back(']');
      return;
    }
    case JsonValue::Kind::Object: {
      const auto& members = v.members();
      if (members.empty()) {
        out.append("{}");
        return;
      }
      out.append("{\n");
      for (std::size_t i = 0; i < members.size(); ++i) {
        indent(out, level + 1);
        appendEscaped(out, members[i].first);
        out.append(": ");
        write(out, members[i].second, level + 1);
        out.append(i + 1 < members.size() ? ",\n" : "\n");
      }
      indent(out, level);
      out.push_back('}');
      return;
    }
  }
}

}  // namespace

QByteArray serialize(const JsonValue& value) {
  std::string out;
  out.reserve(256);
  write(out, value, 0);
  return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

int writeJsonFile(const JsonValue& value, const QString& path) {
  QByteArray text = serialize(value);
  text.append('\n');
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "ERROR: cannot write %s\n", path.toUtf8().constData());
    return 2;
  }
  file.write(text);
  return 0;
}

JsonValue numberOrNonFinite(double x) {
  if (std::isfinite(x)) {
    return JsonValue(x);
  }
  return JsonValue(formatDoubleOrNonFinite(x));
}

}  // namespace tk
