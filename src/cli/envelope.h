#pragma once

#include <QString>
#include <optional>

#include "json/json_value.h"

namespace tk::cli {

/// Chooses text (true) or JSON (false) envelopes for the rest of the process.
void setTextOutput(bool text);
/// The output format chosen by the runner.
bool textOutput();

/// Prints the success envelope; throws JsonWriteError (before printing) for unwritable data.
void emitSuccess(const QString& command, const std::optional<JsonValue>& data = std::nullopt);
/// Prints the error envelope: JSON on standard output, or "ERROR [cmd]: msg" on standard error.
void emitError(const QString& command, const QString& message);

/// The text rendering of a value, one line per entry, indented two blanks per depth.
void renderText(const JsonValue& value, int depth);
/// A scalar's text: "" for null, "True"/"False", numbers in their JSON form, strings unquoted.
QString valueText(const JsonValue& value);

}  // namespace tk::cli
