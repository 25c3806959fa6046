#include "definition/ini_parser.h"

#include <QFileInfo>

#include "definition/default_setting_groups.h"
#include "definition/ini_preprocessor.h"
#include "definition/ini_read_state.h"
#include "definition/ini_sections.h"
#include "definition/ini_text.h"
#include "json/input_file.h"

namespace tk {
namespace {

using detail::ReadState;

/// Sets the flag of each noMsqSave, displayInHex and controllerPriority extension on the first
/// constant of that name (pages in order).
void applyExtensionFlags(EcuDefinition& def) {
  for (const ConstantExtension& extension : def.ConstantExtensions) {
    bool ConstantDef::*flag = nullptr;
    switch (extension.ExtensionType) {
      case ExtensionType::NoMsqSave:
        flag = &ConstantDef::NoMsqSave;
        break;
      case ExtensionType::DisplayInHex:
        flag = &ConstantDef::DisplayInHex;
        break;
      case ExtensionType::ControllerPriority:
        flag = &ConstantDef::ControllerPriority;
        break;
      default:
        continue;
    }
    [&] {
      for (PageGroup& page : def.Pages) {
        for (ConstantDef& constant : page.Fields) {
          if (constant.Name == extension.ConstantName) {
            constant.*flag = true;
            return;
          }
        }
      }
    }();
  }
}

/// The steps after the section pass: records still open are stored, the scalars map is derived,
/// the defines are copied and the extension flags set.
void closeRead(ReadState& state) {
  EcuDefinition& def = state.def;
  state.closeHelpTopic();
  detail::closeControllerRecords(state);
  detail::buildScalars(def);
  for (const auto& [name, value] : state.defines.entries()) {
    def.Defines.insert(name, value);
  }
  applyExtensionFlags(def);
}

}  // namespace

void IniParser::setSettingsSource(std::optional<QList<SettingGroup>> groups) {
  settingsSource_ = std::move(groups);
}

void IniParser::setFlagOverrides(std::optional<FlagOverrides> overrides) {
  flagOverrides_ = std::move(overrides);
}

void IniParser::setGroupSelections(std::optional<GroupSelections> selections) {
  groupSelections_ = std::move(selections);
}

EcuDefinition IniParser::read(const QStringList& lines, const QString& baseDirectory,
                              const QString& topKey) const {
  ReadState state;
  detail::Preprocessor preprocessor(state.def, state.defines, baseDirectory, topKey);
  preprocessor.collectSymbols(lines);
  if (settingsSource_) {
    preprocessor.mergeSettingGroups(*settingsSource_);
  }
  preprocessor.applyOverrides(flagOverrides_, groupSelections_);
  const std::vector<const QString*> active = preprocessor.activeLines(lines);
  // The expansion allowance grows with the text of the files, each counted once however often
  // it is included.
  qsizetype characters = preprocessor.charactersRead();
  for (const QString& line : lines) {
    characters += line.size();
  }
  state.defines.allowExpansionFor(characters);
  detail::readSections(state, active);
  closeRead(state);
  return std::move(state.def);
}

EcuDefinition IniParser::parse(const QString& path) const {
  // A device or a pipe might never end; the reader does not fail, so the definition stays
  // empty and says why.
  if (const std::optional<QString> problem = inputFileProblem(path, kMaxInputFileBytes)) {
    EcuDefinition empty;
    empty.Refused.append(QStringLiteral("definition file %1 not read: %2").arg(path, *problem));
    return empty;
  }
  std::optional<QStringList> lines = readTrimmedLines(path);
  if (!lines) {
    return EcuDefinition();
  }
  // A path without a folder part resolves includes against the current folder (".").
  const QFileInfo info(path);
  return read(*lines, info.path(), info.absoluteFilePath());
}

EcuDefinition IniParser::parseBytes(const QByteArray& bytes, const QString& baseDirectory) const {
  return read(decodeLines(bytes, true), baseDirectory, QString());
}

EcuDefinition parseIniFile(const QString& path, const IniParseOptions& options) {
  IniParser parser;
  if (options.useDefaultSettingGroups) {
    parser.setSettingsSource(defaultSettingGroups());
  }
  parser.setFlagOverrides(options.flagOverrides);
  parser.setGroupSelections(options.groupSelections);
  return parser.parse(path);
}

}  // namespace tk
