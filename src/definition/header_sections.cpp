// Handlers of [SettingGroups] help topics, [MegaTune], [TunerStudio], [Constants], [PcVariables]
// and [ConstantsExtensions].
#include <algorithm>
#include <cstdint>

#include "definition/constant_parser.h"
#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {
namespace {

QStringList unquotedItems(const QString& value) {
  QStringList items = splitList(value);
  for (QString& item : items) {
    item = unquote(item);
  }
  return items;
}

/// Resolves nextOffset/lastOffset against a running offset and size, then advances them.
void resolveOffset(ConstantDef& c, int& runningOffset, int& runningSize) {
  if (c.Offset == kNextOffset) {
    c.Offset = static_cast<int>(std::clamp<long long>(
        static_cast<long long>(runningOffset) + runningSize, INT32_MIN, INT32_MAX));
  } else if (c.Offset == kLastOffset) {
    c.Offset = runningOffset;
  }
  runningOffset = c.Offset;
  runningSize = fieldSize(c);
}

}  // namespace

void handleHelpTopic(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "help")) {
    state.closeHelpTopic();
    const QStringList items = splitList(value);
    HelpDefinition topic;
    topic.Name = items.at(0).trimmed();
    if (items.size() >= 2) {
      topic.Title = unquote(items.at(1));
      state.def.HelpGeneral = unquote(items.at(1));
    } else {
      state.def.HelpGeneral = unquote(items.at(0));
    }
    state.openHelp = topic;
  } else if (equalsWord(key, "webHelp")) {
    const QString text = unquote(value);
    if (state.openHelp) {
      state.openHelp->WebHelp = text;
    }
    state.def.WebHelp = text;
  } else if (equalsWord(key, "text")) {
    const QString text = unquote(value);
    if (state.openHelp) {
      state.openHelp->TextLines.append(text);
    }
    state.def.HelpText = text;
  }
}

void handleMegaTune(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "signature")) {
    state.def.Signature = trimChars(value, QStringLiteral("\""));
  } else if (equalsWord(key, "endianness")) {
    state.def.Endianness = value.trimmed().toLower();
  } else if (equalsWord(key, "versionInfo")) {
    state.def.MegaTuneVersionInfo = unquote(value);
  }
}

void handleTunerStudio(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "queryCommand")) {
    state.def.QueryCommand = unquote(value);
  } else if (equalsWord(key, "versionInfo")) {
    state.def.VersionInfo = unquote(value);
  } else if (equalsWord(key, "signature") && state.def.Signature.isEmpty()) {
    state.def.Signature = unquote(value);
  }
}

void handlePageSettings(ReadState& state, const QString& key, const QString& value) {
  EcuDefinition& def = state.def;
  if (key.startsWith(QLatin1String("cmd_"), Qt::CaseInsensitive)) {
    def.Commands.insert(key, unquote(value));
  } else if (equalsWord(key, "messageEnvelopeFormat")) {
    return;
  } else if (equalsWord(key, "endianness")) {
    def.Endianness = value;
  } else if (equalsWord(key, "nPages")) {
    if (const auto n = parseInt(value)) {
      def.NPages = *n;
    }
  } else if (equalsWord(key, "pageSize")) {
    def.PageSizes.clear();
    qint64 total = 0;
    for (const QString& item : splitList(value)) {
      const int size = parseInt(item).value_or(0);
      total += std::max(size, 0);
      def.PageSizes.append(size);
      if (total > kMaxPageBytes) {
        // The pages are kept only as long as their images fit the budget together.
        def.PageSizes.clear();
        def.refuse(key + QStringLiteral(" = ") + value,
                   QStringLiteral("the pages need more than %1 MiB").arg(kMaxPageBytes >> 20));
        break;
      }
    }
  } else if (equalsWord(key, "pageIdentifier")) {
    def.PageIdentifiers = unquotedItems(value);
  } else if (equalsWord(key, "pageReadCommand")) {
    def.PageReadCommands = unquotedItems(value);
  } else if (equalsWord(key, "burnCommand")) {
    def.BurnCommands = unquotedItems(value);
  } else if (equalsWord(key, "pageValueWrite")) {
    def.PageValueWriteCommands = unquotedItems(value);
  } else if (equalsWord(key, "pageChunkWrite")) {
    def.PageChunkWriteCommands = unquotedItems(value);
  } else if (equalsWord(key, "crc32CheckCommand")) {
    def.Crc32CheckCommands = unquotedItems(value);
  } else if (equalsWord(key, "retrieveConfigError")) {
    def.RetrieveConfigErrorCommand = unquote(value);
  } else if (equalsWord(key, "blockingFactor") || equalsWord(key, "pageActivationDelay")) {
    const qsizetype semicolon = value.indexOf(u';');
    const auto n = parseInt(semicolon >= 0 ? value.left(semicolon) : value);
    if (n) {
      (equalsWord(key, "blockingFactor") ? def.BlockingFactor : def.PageActivationDelay) = *n;
    }
  } else {
    def.Constants.insert(key, value);
  }
}

// A constant is left out when its shape would need more elements than a definition may hold,
// alone (also a dimension too large for 32 bits) or together with those before it.
bool withinElementBudget(ReadState& state, const ConstantDef& c, const QString& key,
                         const QString& value) {
  qint64 elements = 1;
  for (const int dimension : c.Shape) {
    elements *= std::max(dimension, 1);
    elements = std::min(elements, kMaxDefinitionElements + 1);
  }
  if (state.elements + elements > kMaxDefinitionElements) {
    state.def.refuse(key + QStringLiteral(" = ") + value,
                     QStringLiteral("the constants need more than %1 elements together")
                         .arg(kMaxDefinitionElements));
    return false;
  }
  state.elements += elements;
  return true;
}

void handleConstantLine(ReadState& state, const QString& key, const QString& value) {
  std::optional<ConstantDef> c = parseConstant(key, value, &state.pool);
  PageGroup* page = state.currentPage ? state.def.findPage(*state.currentPage) : nullptr;
  if (!c || !page || !withinElementBudget(state, *c, key, value)) {
    return;
  }
  resolveOffset(*c, state.runningOffset, state.runningSize);
  if (state.section == QLatin1String("PcVariables")) {
    c->IsPcVariable = true;
  }
  page->Fields.append(std::move(*c));
}

void handlePcVariable(ReadState& state, const QString& key, const QString& value) {
  const QString t = value.trimmed();
  std::optional<ConstantDef> c;
  for (const auto& [word, kind] :
       {std::pair{"channelValueOnConnect", PcVariableType::ChannelValueOnConnect},
        std::pair{"continuousChannelValue", PcVariableType::ContinuousChannelValue}}) {
    if (t.startsWith(QLatin1String(word), Qt::CaseInsensitive)) {
      ConstantDef special;
      special.Name = key;
      special.Type = ConstantType::Scalar;
      special.DataType = QStringLiteral("F32");
      special.PcVariableType = kind;
      special.ReferencedChannel =
          trimChars(t.mid(qsizetype(qstrlen(word))).trimmed(), QStringLiteral(", "));
      c = special;
      break;
    }
  }
  if (!c) {
    if (isBraced(t)) {
      state.def.PcVariableExpressions.insert(key, braceInside(t));
    }
    c = parsePcBits(key, value, &state.pool);
    if (!c) {
      c = parsePcValue(key, value, &state.pool);
    }
  }
  if (!c || !withinElementBudget(state, *c, key, value)) {
    return;
  }
  c->IsPcVariable = true;
  PageGroup* page = state.def.findPage(0);
  if (!page) {
    PageGroup pcPage;
    pcPage.PageNumber = 0;
    state.def.Pages.append(pcPage);
    page = &state.def.Pages.last();
  }
  page->Fields.append(std::move(*c));
}

void handleConstantExtension(ReadState& state, const QString& key, const QString& value) {
  EcuDefinition& def = state.def;
  ConstantExtension extension;
  if (equalsWord(key, "requiresPowerCycle")) {
    const QString name = value.trimmed();
    if (name.isEmpty() || def.RequiresPowerCycleFields.contains(name)) {
      return;
    }
    def.RequiresPowerCycleFields.append(name);
    extension.ConstantName = name;
    extension.ExtensionType = ExtensionType::RequiresPowerCycle;
    def.ConstantExtensions.append(extension);
    return;
  }
  if (equalsWord(key, "defaultValue")) {
    const QStringList items = splitList(value);
    if (items.size() < 2) {
      return;
    }
    extension.ConstantName = items.at(0).trimmed();
    extension.ExtensionType = ExtensionType::DefaultValue;
    if (items.size() == 2) {
      extension.Value = items.at(1).trimmed();
    } else {
      for (qsizetype i = 1; i < items.size(); ++i) {
        if (const auto d = parseDouble(items.at(i))) {
          extension.ArrayValues.append(*d);
        }
      }
    }
    def.ConstantExtensions.append(extension);
    return;
  }
  static const std::pair<const char*, ExtensionType> kPairKinds[] = {
      {"rawValue", ExtensionType::RawValue},
      {"useMappingTable", ExtensionType::UseMappingTable},
      {"maintainConstantValue", ExtensionType::MaintainConstantValue},
      {"maximumElements", ExtensionType::MaximumElements},
  };
  for (const auto& [word, kind] : kPairKinds) {
    if (equalsWord(key, word)) {
      const QStringList items = splitList(value);
      extension.ConstantName = items.at(0).trimmed();
      extension.ExtensionType = kind;
      extension.Value = itemAt(items, 1).trimmed();
      def.ConstantExtensions.append(extension);
      return;
    }
  }
  static const std::pair<const char*, ExtensionType> kNameKinds[] = {
      {"controllerPriority", ExtensionType::ControllerPriority},
      {"readOnly", ExtensionType::ReadOnly},
      {"reverseIndex", ExtensionType::ReverseIndex},
      {"oppositeEndian", ExtensionType::OppositeEndian},
      {"noMsqSave", ExtensionType::NoMsqSave},
      {"displayInHex", ExtensionType::DisplayInHex},
  };
  for (const auto& [word, kind] : kNameKinds) {
    if (equalsWord(key, word)) {
      extension.ConstantName = value.trimmed();
      if (extension.ConstantName.isEmpty()) {
        return;
      }
      extension.ExtensionType = kind;
      def.ConstantExtensions.append(extension);
      return;
    }
  }
}

}  // namespace tk::detail
