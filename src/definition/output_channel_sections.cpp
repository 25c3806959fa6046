// Handlers of [OutputChannels], [Replay] and [Datalog].
#include <algorithm>
#include <cstdint>

#include "definition/constant_parser.h"
#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {
namespace {

/// Cuts a [Datalog] value before its first ';' outside quotes (backslash-escaped quotes do not
/// count) and outside braces.
QString cutDatalogComment(const QString& value) {
  bool inQuotes = false;
  int depth = 0;
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value.at(i);
    if (c == u'"' && (i == 0 || value.at(i - 1) != u'\\')) {
      inQuotes = !inQuotes;
    } else if (!inQuotes && c == u'{') {
      ++depth;
    } else if (!inQuotes && c == u'}') {
      --depth;
    } else if (!inQuotes && depth == 0 && c == u';') {
      return value.left(i).trimmed();
    }
  }
  return value.trimmed();
}

/// Datalog condition or lag item: braces and spaces removed when braced, else kept as written.
QString datalogOptional(const QString& item) {
  if (isBraced(item)) {
    return stripBraces(item);
  }
  return item;
}

}  // namespace

void handleOutputChannel(ReadState& state, const QString& key, const QString& value) {
  EcuDefinition& def = state.def;
  if (equalsWord(key, "ochGetCommand")) {
    def.OchGetCommand = unquote(value);
    return;
  }
  if (equalsWord(key, "ochBlockSize")) {
    if (const auto n = parseInt(value)) {
      if (*n > kMaxOchBlockSize) {
        def.refuse(key + QStringLiteral(" = ") + value,
                   QStringLiteral("the realtime block would need more than %1 bytes")
                       .arg(kMaxOchBlockSize));
      } else {
        def.OchBlockSize = *n;
      }
    }
    return;
  }
  if (equalsWord(key, "scatteredOffsetArray")) {
    def.ScatteredOffsetArray = value.trimmed();
    return;
  }
  if (equalsWord(key, "scatteredOchGetCommand")) {
    def.ScatteredOchGetCommand = unquote(value);
    return;
  }
  if (equalsWord(key, "scatteredGetEnabled")) {
    def.ScatteredGetEnabled = value.trimmed();
    return;
  }
  const QString t = value.trimmed();
  if (t.startsWith(u'{') && t.contains(u'}')) {
    const qsizetype close = t.indexOf(u'}');
    const QString expression = t.mid(1, close - 1).trimmed();
    if (key.isEmpty() || expression.isEmpty()) {
      return;
    }
    def.ExpressionDefinitions.insert(key, expression);
    ConstantDef channel;
    channel.Name = key;
    channel.Type = ConstantType::Scalar;
    channel.DataType = QStringLiteral("F32");
    channel.Expression = expression;
    const QString rest = t.mid(close + 1).trimmed();
    if (rest.startsWith(u',')) {
      const QString units = unquote(rest.mid(1));
      if (!units.isEmpty()) {
        channel.Units = units;
      }
    }
    def.OutputChannels.insert(key, std::move(channel));
    return;
  }
  std::optional<ConstantDef> c = parseConstant(key, value, &state.pool);
  if (!c) {
    return;
  }
  if (c->Offset == kNextOffset) {
    c->Offset = static_cast<int>(
        std::clamp<long long>(static_cast<long long>(state.ochRunningOffset) + state.ochRunningSize,
                              INT32_MIN, INT32_MAX));
  } else if (c->Offset == kLastOffset) {
    c->Offset = state.ochRunningOffset;
  }
  state.ochRunningOffset = c->Offset;
  state.ochRunningSize = fieldSize(*c);
  def.OutputChannels.insert(key, std::move(*c));
}

void handleReplay(ReadState& state, const QString& key, const QString& value) {
  std::optional<ConstantDef> c = parseConstant(key, value, &state.pool);
  if (!c) {
    return;
  }
  if (!state.def.ReplayChannels) {
    state.def.ReplayChannels.emplace();
  }
  state.def.ReplayChannels->insert(key, std::move(*c));
}

void handleDatalogLine(ReadState& state, const QString& line) {
  QString text = line.trimmed();
  if (!state.defines.expand(text)) {
    return;
  }
  const qsizetype eq = text.indexOf(u'=');
  if (eq < 0) {
    return;
  }
  const QString key = text.left(eq).trimmed();
  const QString value = cutDatalogComment(text.mid(eq + 1).trimmed());
  if (equalsWord(key, "category")) {
    state.datalogCategory = unquote(value);
    return;
  }
  if (!equalsWord(key, "entry")) {
    return;
  }
  const QStringList items = splitList(value);
  if (items.size() < 4) {
    return;
  }
  DatalogEntry entry;
  entry.ChannelName = items.at(0).trimmed();
  entry.Label = unquote(items.at(1));
  entry.Type = items.at(2).trimmed();
  entry.Format = unquote(items.at(3));
  entry.Category = state.datalogCategory;
  if (items.size() >= 5) {
    entry.EnabledCondition = datalogOptional(items.at(4));
  }
  if (items.size() >= 6) {
    entry.Lag = datalogOptional(items.at(5));
  }
  state.def.DatalogEntries.append(entry);
}

}  // namespace tk::detail
