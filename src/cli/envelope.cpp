#include "cli/envelope.h"

#include <QStringList>

#include "json/json_writer.h"
#include "json/number_format.h"

namespace tk::cli {
namespace {

bool isContainer(const JsonValue& v) { return v.isArray() || v.isObject(); }

// A scalar's text: "" for null, "True"/"False", numbers in their JSON form, strings unquoted.
QString valueText(const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Bool:
      return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case JsonValue::Kind::Int:
      return QString::number(value.toInt());
    case JsonValue::Kind::Double:
      return formatDouble(value.toDouble(), kJsonThreshold);
    case JsonValue::Kind::Float:
      return formatFloat(value.toFloat());
    case JsonValue::Kind::String:
      return value.toString();
    default:
      return QString();
  }
}

// Appends the value one line per entry, indented two blanks per depth. An object inside an array
// is introduced by its position; any other element sits one step deeper, an array as one line.
void appendText(QString& text, const JsonValue& value, int depth) {
  const QString indent(qsizetype{depth} * 2, QLatin1Char(' '));
  const auto line = [&text](const QString& content) {
    text += content;
    text += QLatin1Char('\n');
  };
  if (value.isArray()) {
    const auto& elements = value.elements();
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const JsonValue& e = elements[i];
      if (e.isObject()) {
        line(indent + QStringLiteral("[") + QString::number(i) + QStringLiteral("]:"));
        appendText(text, e, depth + 1);
      } else if (e.isArray()) {
        QStringList parts;
        for (const JsonValue& inner : e.elements()) {
          parts.append(valueText(inner));
        }
        line(indent + QStringLiteral("  [") + parts.join(QStringLiteral(", ")) +
             QStringLiteral("]"));
      } else {
        line(indent + QStringLiteral("  ") + valueText(e));
      }
    }
  } else if (value.isObject()) {
    for (const auto& [key, member] : value.members()) {
      if (isContainer(member)) {
        line(indent + key + QStringLiteral(":"));
        appendText(text, member, depth + 1);
      } else {
        line(indent + key + QStringLiteral(": ") + valueText(member));
      }
    }
  } else {
    line(indent + valueText(value));
  }
}

}  // namespace

Output renderSuccess(OutputFormat format, const QString& command,
                     const std::optional<JsonValue>& data) {
  if (format == OutputFormat::Text) {
    if (!data) {
      return {Stream::Out, (QStringLiteral("[") + command + QStringLiteral("] OK\n")).toUtf8()};
    }
    // Data that JSON cannot hold fails in text form too, so both forms report it alike.
    (void)serialize(*data);
    QString text;
    appendText(text, *data, 0);
    return {Stream::Out, text.toUtf8()};
  }
  JsonValue envelope = JsonValue::object();
  envelope.insert(QStringLiteral("success"), true);
  envelope.insert(QStringLiteral("command"), command);
  if (data) {
    envelope.insert(QStringLiteral("data"), *data);
  }
  return {Stream::Out, serialize(envelope) + '\n'};
}

Output renderError(OutputFormat format, const QString& command, const QString& message) {
  if (format == OutputFormat::Text) {
    return {Stream::Err, (QStringLiteral("ERROR [") + command + QStringLiteral("]: ") + message +
                          QLatin1Char('\n'))
                             .toUtf8()};
  }
  JsonValue envelope = JsonValue::object();
  envelope.insert(QStringLiteral("success"), false);
  envelope.insert(QStringLiteral("command"), command);
  envelope.insert(QStringLiteral("error"), message);
  return {Stream::Out, serialize(envelope) + '\n'};
}

}  // namespace tk::cli
