#pragma once

#include <QString>
#include <optional>

#include "definition/constant_def.h"
#include "definition/ini_text.h"

namespace tk {

/// Parses a [Constants] (or [OutputChannels], [Replay]) declaration; nullopt when rejected.
/// Offsets "nextOffset" and "lastOffset" come back as kNextOffset and kLastOffset. With a pool,
/// data types, units and labels are shared with equal texts of earlier declarations.
std::optional<ConstantDef> parseConstant(const QString& key, const QString& value,
                                         TextPool* pool = nullptr);
/// Parses a [PcVariables] bits declaration (no offset item); nullopt when rejected.
std::optional<ConstantDef> parsePcBits(const QString& key, const QString& value,
                                       TextPool* pool = nullptr);
/// Parses any other [PcVariables] declaration (no offset item); nullopt when rejected.
std::optional<ConstantDef> parsePcValue(const QString& key, const QString& value,
                                        TextPool* pool = nullptr);
/// Fills Shape (or BitStart/BitEnd when allowed and the text has a colon) from the text inside [].
void parseShape(ConstantDef& constant, const QString& text, bool allowBitRange);

}  // namespace tk
