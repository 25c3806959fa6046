#pragma once

#include <QString>
#include <optional>

#include "cli/console.h"
#include "json/json_value.h"

namespace tk::cli {

/// The form of the envelopes: JSON documents, or the plain-text rendering.
enum class OutputFormat { Json, Text };

/// The success envelope and its stream (always standard output): the JSON document, or in text
/// form the data one line per entry ("[command] OK" without data). Throws JsonWriteError for
/// data that cannot be written, in both forms.
Output renderSuccess(OutputFormat format, const QString& command,
                     const std::optional<JsonValue>& data);
/// The error envelope and its stream: the JSON document on standard output, or the line
/// "ERROR [command]: message" on standard error.
Output renderError(OutputFormat format, const QString& command, const QString& message);

}  // namespace tk::cli
