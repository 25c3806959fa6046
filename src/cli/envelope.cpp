#include "cli/envelope.h"

#include <QStringList>

#include "cli/console.h"
#include "json/json_writer.h"
#include "json/number_format.h"

namespace tk::cli {
namespace {

bool g_textOutput = false;

bool isContainer(const JsonValue& v) { return v.isArray() || v.isObject(); }

}  // namespace

void setTextOutput(bool text) { g_textOutput = text; }

bool textOutput() { return g_textOutput; }

void emitSuccess(const QString& command, const std::optional<JsonValue>& data) {
  if (g_textOutput) {
    if (!data) {
      printOut(QStringLiteral("[") + command + QStringLiteral("] OK"));
      return;
    }
    // Serialise first so that unwritable data fails before any line is printed.
    (void)serialize(*data);
    renderText(*data, 0);
    return;
  }
  JsonValue envelope = JsonValue::object();
  envelope.insert(QStringLiteral("success"), true);
  envelope.insert(QStringLiteral("command"), command);
  if (data) {
    envelope.insert(QStringLiteral("data"), *data);
  }
  writeOut(serialize(envelope) + '\n');
}

void emitError(const QString& command, const QString& message) {
  if (g_textOutput) {
    printErr(QStringLiteral("ERROR [") + command + QStringLiteral("]: ") + message);
    return;
  }
  JsonValue envelope = JsonValue::object();
  envelope.insert(QStringLiteral("success"), false);
  envelope.insert(QStringLiteral("command"), command);
  envelope.insert(QStringLiteral("error"), message);
  writeOut(serialize(envelope) + '\n');
}

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

void renderText(const JsonValue& value, int depth) {
  const QString indent(depth * 2, QLatin1Char(' '));
  if (value.isArray()) {
    const auto& elements = value.elements();
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const JsonValue& e = elements[i];
      if (e.isObject()) {
        printOut(indent + QStringLiteral("[") + QString::number(i) + QStringLiteral("]:"));
        renderText(e, depth + 1);
      } else if (e.isArray()) {
        QStringList parts;
        for (const JsonValue& inner : e.elements()) {
          parts.append(valueText(inner));
        }
        printOut(indent + QStringLiteral("  [") + parts.join(QStringLiteral(", ")) +
                 QStringLiteral("]"));
      } else {
        printOut(indent + QStringLiteral("  ") + valueText(e));
      }
    }
  } else if (value.isObject()) {
    for (const auto& [key, member] : value.members()) {
      if (isContainer(member)) {
        printOut(indent + key + QStringLiteral(":"));
        renderText(member, depth + 1);
      } else {
        printOut(indent + key + QStringLiteral(": ") + valueText(member));
      }
    }
  } else {
    printOut(indent + valueText(value));
  }
}

}  // namespace tk::cli
