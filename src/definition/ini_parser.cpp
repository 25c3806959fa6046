#include "definition/ini_parser.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <map>
#include <vector>

#include "definition/default_setting_groups.h"
#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk {
namespace {

using detail::ReadState;

// Include nesting and the number of files one pass reads are bounded so that include cycles and
// files that include each other many times cannot recurse or multiply without end.
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxIncludesPerPass = 256;

enum class Section {
  Other,
  ContextHelp,
  SettingGroups,
  MegaTune,
  TunerStudio,
  Constants,
  PcVariables,
  Menu,
  UserDefined,
  TableEditor,
  CurveEditor,
  Datalog,
  OutputChannels,
  FrontPage,
  Gauges,
  ControllerCommands,
  PortEditor,
  Tools,
  ConstantsExtensions,
  EventTriggers,
  UserShortcuts,
  Replay,
  VeAnalyze,
  WueAnalyze,
  LoggerDefinition,
  ReferenceTables,
  KeyActions,
  DatalogViews,
};

Section sectionOf(const QString& name) {
  static const QHash<QString, Section> sections = {
      {QStringLiteral("SettingContextHelp"), Section::ContextHelp},
      {QStringLiteral("ContextHelp"), Section::ContextHelp},
      {QStringLiteral("SettingGroups"), Section::SettingGroups},
      {QStringLiteral("MegaTune"), Section::MegaTune},
      {QStringLiteral("TunerStudio"), Section::TunerStudio},
      {QStringLiteral("Constants"), Section::Constants},
      {QStringLiteral("PcVariables"), Section::PcVariables},
      {QStringLiteral("Menu"), Section::Menu},
      {QStringLiteral("UserDefined"), Section::UserDefined},
      {QStringLiteral("TableEditor"), Section::TableEditor},
      {QStringLiteral("CurveEditor"), Section::CurveEditor},
      {QStringLiteral("Datalog"), Section::Datalog},
      {QStringLiteral("OutputChannels"), Section::OutputChannels},
      {QStringLiteral("FrontPage"), Section::FrontPage},
      {QStringLiteral("ControllerCommands"), Section::ControllerCommands},
      {QStringLiteral("PortEditor"), Section::PortEditor},
      {QStringLiteral("Tools"), Section::Tools},
      {QStringLiteral("ConstantsExtensions"), Section::ConstantsExtensions},
      {QStringLiteral("EventTriggers"), Section::EventTriggers},
      {QStringLiteral("UserShortcuts"), Section::UserShortcuts},
      {QStringLiteral("Replay"), Section::Replay},
      {QStringLiteral("VeAnalyze"), Section::VeAnalyze},
      {QStringLiteral("WueAnalyze"), Section::WueAnalyze},
      {QStringLiteral("LoggerDefinition"), Section::LoggerDefinition},
      {QStringLiteral("ReferenceTables"), Section::ReferenceTables},
      {QStringLiteral("KeyActions"), Section::KeyActions},
      {QStringLiteral("DatalogViews"), Section::DatalogViews},
  };
  const auto it = sections.constFind(name);
  if (it != sections.cend()) {
    return *it;
  }
  if (name.startsWith(QLatin1String("GaugeConfigurations"))) {
    return Section::Gauges;
  }
  return Section::Other;
}

bool isLineSection(Section s) {
  return s == Section::Menu || s == Section::UserDefined || s == Section::TableEditor ||
         s == Section::CurveEditor || s == Section::Datalog;
}

/// Lines without '=' that still reach their section handler.
bool startsWithComponentWord(const QString& t) {
  for (const char* word :
       {"menu", "subMenu", "groupMenu", "groupChildMenu", "dialog", "field", "commandButton"}) {
    if (t.startsWith(QLatin1String(word))) {
      return true;
    }
  }
  return false;
}

/// Cuts a value before its first ';' when that semicolon stands outside quotes and braces.
QString removeComment(const QString& value) {
  const qsizetype semicolon = value.indexOf(u';');
  if (semicolon < 0) {
    return value;
  }
  if (semicolon == 0) {
    return QString();
  }
  bool inQuotes = false;
  int depth = 0;
  for (qsizetype i = 0; i < semicolon; ++i) {
    const QChar c = value.at(i);
    if (c == u'"') {
      inQuotes = !inQuotes;
    } else if (!inQuotes && c == u'{') {
      ++depth;
    } else if (!inQuotes && c == u'}') {
      --depth;
    }
  }
  if (!inQuotes && depth == 0) {
    return value.left(semicolon).trimmed();
  }
  return value;
}

struct ConditionFrame {
  bool active;
  bool taken;
  bool elseSeen;
};

/// A stack of conditional frames that knows in constant time whether every frame is active.
class ConditionStack {
 public:
  bool active() const { return inactive_ == 0; }
  bool isEmpty() const { return frames_.empty(); }
  void push(ConditionFrame f) {
    frames_.push_back(f);
    inactive_ += f.active ? 0 : 1;
  }
  ConditionFrame pop() {
    const ConditionFrame f = frames_.back();
    frames_.pop_back();
    inactive_ -= f.active ? 0 : 1;
    return f;
  }

 private:
  std::vector<ConditionFrame> frames_;
  std::size_t inactive_ = 0;
};

/// One read: the files seen, the three passes and the closing steps.
class Reader {
 public:
  Reader(const std::optional<QList<SettingGroup>>& settingsSource,
         const std::optional<FlagOverrides>& flagOverrides,
         const std::optional<GroupSelections>& groupSelections, QString baseDirectory)
      : settingsSource_(settingsSource),
        flagOverrides_(flagOverrides),
        groupSelections_(groupSelections),
        baseDirectory_(std::move(baseDirectory)) {}

  EcuDefinition run(const QStringList& top, const QString& topKey) {
    if (!topKey.isEmpty()) {
      stack_.append(topKey);
    }
    includes_ = 0;
    pass1(top);
    mergeSettings();
    applyOverrides();
    includes_ = 0;
    ConditionStack conditions;
    // The active lines as pointers into the read files' line lists, which outlive pass 3.
    std::vector<const QString*> flattened;
    flattened.reserve(static_cast<std::size_t>(top.size()));
    pass2(top, conditions, flattened);
    pass3(flattened);
    finish();
    return std::move(state_.def);
  }

 private:
  /// The lines of a resolved include and its key, or nullptr when it is skipped.
  const QStringList* include(const QString& trimmedLine, QString& key) {
    if (baseDirectory_.isEmpty()) {
      return nullptr;
    }
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const QStringList parts = trimmedLine.split(blanks, Qt::SkipEmptyParts);
    if (parts.size() < 2) {
      return nullptr;
    }
    const QString name = parts.at(1).trimmed();
    QString path = baseDirectory_ + u'/' + name;
    if (!QFileInfo::exists(path)) {
      path = baseDirectory_ + QStringLiteral("/projectCfg/") + name;
      if (!QFileInfo::exists(path)) {
        return nullptr;
      }
    }
    key = QFileInfo(path).absoluteFilePath();
    if (stack_.contains(key) || stack_.size() >= kMaxIncludeDepth ||
        includes_ >= kMaxIncludesPerPass) {
      return nullptr;
    }
    ++includes_;
    auto it = cache_.find(key);
    if (it == cache_.end()) {
      it = cache_.emplace(key, readTrimmedLines(path).value_or(QStringList())).first;
    }
    return &it->second;
  }

  bool evaluate(const QString& symbol) const {
    if (const SettingFlag* flag = state_.def.SettingFlags.find(symbol)) {
      return flag->IsActive;
    }
    for (const auto& entry : state_.def.SettingGroups) {
      if (entry.second.SelectedOption == symbol) {
        return true;
      }
      if (entry.second.hasOption(symbol)) {
        return false;
      }
    }
    return false;
  }

  bool isOptionName(const QString& symbol) const {
    for (const auto& entry : state_.def.SettingGroups) {
      if (entry.second.hasOption(symbol)) {
        return true;
      }
    }
    return false;
  }

  void addFlag(const QString& symbol, bool value) {
    if (!symbol.isEmpty() && !state_.def.SettingFlags.contains(symbol)) {
      state_.def.SettingFlags.insert(symbol, SettingFlag{symbol, value, value});
    }
  }

  void settingGroupLine(const QString& t) {
    const qsizetype eq = t.indexOf(u'=');
    const QString key = t.left(eq).trimmed();
    QString value = t.mid(eq + 1).trimmed();
    const qsizetype semicolon = value.indexOf(u';');
    if (semicolon >= 0 && value.left(semicolon).count(u'"') % 2 == 0) {
      value = value.left(semicolon).trimmed();
    }
    if (equalsWord(key, "settingGroup")) {
      const QStringList items = splitList(value);
      if (items.size() >= 2) {
        const QString name = items.at(0).trimmed();
        if (!state_.def.SettingGroups.contains(name)) {
          state_.def.SettingGroups.insert(name, SettingGroup{name, unquote(items.at(1)), {}, {}});
        }
        currentGroup_ = name;
      }
    } else if (equalsWord(key, "settingOption") && currentGroup_) {
      const QStringList items = splitList(value);
      SettingGroup* group = state_.def.SettingGroups.find(*currentGroup_);
      if (items.size() >= 2 && group) {
        SettingOption option;
        option.Name = items.at(0).trimmed();
        option.DisplayName = unquote(items.at(1));
        option.IsDefault = equalsWord(option.Name, "DEFAULT");
        if (option.IsDefault || group->SelectedOption.isEmpty()) {
          group->SelectedOption = option.Name;
        }
        group->Options.append(option);
      }
    }
  }

  // Lines arrive trimmed: both passes look only at the trimmed text, and pass 3 trims anyway.
  void pass1(const QStringList& lines) {
    for (const QString& t : lines) {
      if (t.isEmpty() || t.at(0) == u';') {
        continue;
      }
      if (t.startsWith(QLatin1String("#include"))) {
        QString key;
        if (const QStringList* included = include(t, key)) {
          stack_.append(key);
          pass1(*included);
          stack_.removeLast();
        }
      } else if (t.startsWith(QLatin1String("#set "))) {
        addFlag(t.mid(5).trimmed(), true);
      } else if (t.startsWith(QLatin1String("#unset "))) {
        addFlag(t.mid(7).trimmed(), false);
      } else if (t.startsWith(QLatin1String("#if ")) || t.startsWith(QLatin1String("#elif "))) {
        const QString symbol = t.mid(t.indexOf(u' ') + 1).trimmed();
        if (!isOptionName(symbol)) {
          addFlag(symbol, false);
        }
      } else if (t.startsWith(QLatin1String("#define"))) {
        state_.defines.defineLine(t);
      } else if (t.at(0) == u'[' && t.endsWith(u']')) {
        section_ = t.mid(1, t.size() - 2);
      } else if (section_ == QLatin1String("SettingGroups") && t.contains(u'=')) {
        settingGroupLine(t);
      }
    }
  }

  void mergeSettings() {
    if (!settingsSource_) {
      return;
    }
    EcuDefinition& def = state_.def;
    QSet<QString> symbols;
    for (const auto& entry : def.SettingFlags) {
      symbols.insert(entry.first.toLower());
    }
    for (const SettingGroup& group : *settingsSource_) {
      if (def.SettingGroups.contains(group.Name)) {
        continue;
      }
      bool used = false;
      for (const SettingOption& option : group.Options) {
        if (!option.Name.isEmpty() && symbols.contains(option.Name.toLower())) {
          used = true;
          break;
        }
      }
      if (used) {
        def.SettingGroups.insert(group.Name, group);
      }
    }
    QSet<QString> optionNames;
    for (const auto& entry : def.SettingGroups) {
      for (const SettingOption& option : entry.second.Options) {
        optionNames.insert(option.Name.toLower());
      }
    }
    def.SettingFlags.removeIf([&optionNames](const OrderedMap<SettingFlag>::Entry& e) {
      return optionNames.contains(e.first.toLower());
    });
  }

  void applyOverrides() {
    EcuDefinition& def = state_.def;
    if (flagOverrides_) {
      for (const auto& [name, value] : *flagOverrides_) {
        if (SettingFlag* flag = def.SettingFlags.find(name)) {
          flag->IsActive = value;
        }
      }
    }
    if (groupSelections_) {
      for (const auto& [groupName, option] : *groupSelections_) {
        SettingGroup* group = def.SettingGroups.find(groupName);
        if (group && group->hasOption(option)) {
          group->SelectedOption = option;
        }
      }
    }
  }

  void pass2(const QStringList& lines, ConditionStack& conditions,
             std::vector<const QString*>& out) {
    for (const QString& t : lines) {
      if (t.startsWith(QLatin1String("#include"))) {
        QString key;
        if (!conditions.active()) {
          continue;
        }
        if (const QStringList* included = include(t, key)) {
          stack_.append(key);
          pass2(*included, conditions, out);
          stack_.removeLast();
        }
      } else if (t.startsWith(QLatin1String("#if "))) {
        const bool value = evaluate(t.mid(4).trimmed());
        conditions.push({value, value, false});
      } else if (t.startsWith(QLatin1String("#elif "))) {
        if (conditions.isEmpty()) {
          continue;
        }
        const ConditionFrame top = conditions.pop();
        if (top.taken) {
          conditions.push({false, true, false});
        } else {
          const bool value = evaluate(t.mid(6).trimmed());
          conditions.push({value, value, false});
        }
      } else if (t == QLatin1String("#else")) {
        if (!conditions.isEmpty()) {
          const ConditionFrame top = conditions.pop();
          conditions.push({!top.taken, true, true});
        }
      } else if (t == QLatin1String("#endif")) {
        if (!conditions.isEmpty()) {
          conditions.pop();
        }
      } else if (t.startsWith(QLatin1String("#set ")) || t.startsWith(QLatin1String("#unset "))) {
        continue;
      } else if (conditions.active() && !t.isEmpty()) {
        // Pass 3 trims and skips empty lines, so they are not kept.
        out.push_back(&t);
      }
    }
  }

  void setPage(int number) {
    EcuDefinition& def = state_.def;
    if (!def.findPage(number)) {
      PageGroup page;
      page.PageNumber = number;
      def.Pages.append(page);
    }
    state_.currentPage = number;
    state_.runningOffset = 0;
    state_.runningSize = 0;
  }

  void pass3(const std::vector<const QString*>& lines) {
    Section section = Section::Other;
    for (const QString* line : lines) {
      const QString& t = *line;
      const QChar first = t.at(0);
      if (first == u';') {
        continue;
      }
      if (first == u'#') {
        if (t.startsWith(QLatin1String("#define"))) {
          state_.defines.defineLine(t);
        }
        continue;
      }
      if (first == u'[' && t.endsWith(u']')) {
        state_.section = t.mid(1, t.size() - 2);
        section = sectionOf(state_.section);
        if (state_.section != QLatin1String("Constants")) {
          state_.currentPage.reset();
        }
        continue;
      }
      if (t.startsWith(QLatin1String("page ="))) {
        // "page = 2 ; comment" is not a page switch: the number must be the whole second part.
        const QStringList parts = t.split(u'=');
        if (const auto n = parseInt(parts.at(1))) {
          setPage(*n);
        }
        continue;
      }
      const qsizetype eq = t.indexOf(u'=');
      if (eq < 0 && !startsWithComponentWord(t)) {
        continue;
      }
      if (section == Section::Other) {
        continue;
      }
      if (isLineSection(section)) {
        dispatchLine(section, t);
        continue;
      }
      QString key;
      QString value;
      if (eq >= 0) {
        const QStringView view(t);
        key = view.left(eq).trimmed().toString();
        value = removeComment(view.sliced(eq + 1).trimmed().toString());
        state_.defines.expand(value);
      } else {
        value = t;
      }
      dispatchKeyValue(section, key, value);
    }
  }

  void dispatchLine(Section section, const QString& line) {
    switch (section) {
      case Section::Menu:
        detail::handleMenuLine(state_, line);
        break;
      case Section::UserDefined:
        detail::handleUserDefinedLine(state_, line);
        break;
      case Section::TableEditor:
        detail::handleTableEditorLine(state_, line);
        break;
      case Section::CurveEditor:
        detail::handleCurveEditorLine(state_, line);
        break;
      case Section::Datalog:
        detail::handleDatalogLine(state_, line);
        break;
      default:
        break;
    }
  }

  void dispatchKeyValue(Section section, const QString& key, const QString& value) {
    using namespace detail;
    switch (section) {
      case Section::ContextHelp:
        state_.def.ContextHelp.insert(key, unquote(value));
        break;
      case Section::SettingGroups:
        handleHelpTopic(state_, key, value);
        break;
      case Section::MegaTune:
        handleMegaTune(state_, key, value);
        break;
      case Section::TunerStudio:
        handleTunerStudio(state_, key, value);
        break;
      case Section::Constants:
      case Section::PcVariables:
        if (state_.currentPage) {
          handleConstantLine(state_, key, value);
        } else if (section == Section::Constants) {
          handlePageSettings(state_, key, value);
        } else {
          handlePcVariable(state_, key, value);
        }
        break;
      case Section::OutputChannels:
        if (isBraced(value)) {
          state_.def.PcVariableExpressions.insert(key, braceInside(value));
        }
        handleOutputChannel(state_, key, value);
        break;
      case Section::FrontPage:
        handleFrontPage(state_, key, value);
        break;
      case Section::Gauges:
        handleGauge(state_, key, value);
        break;
      case Section::ControllerCommands:
        handleControllerCommand(state_, key, value);
        break;
      case Section::PortEditor:
        handlePortEditor(state_, key, value);
        break;
      case Section::Tools:
        handleTool(state_, key, value);
        break;
      case Section::ConstantsExtensions:
        handleConstantExtension(state_, key, value);
        break;
      case Section::EventTriggers:
        handleEventTrigger(state_, key, value);
        break;
      case Section::UserShortcuts:
        handleUserShortcut(state_, key, value);
        break;
      case Section::Replay:
        handleReplay(state_, key, value);
        break;
      case Section::VeAnalyze:
        handleVeAnalyze(state_, key, value);
        break;
      case Section::WueAnalyze:
        handleWueAnalyze(state_, key, value);
        break;
      case Section::LoggerDefinition:
        handleLogger(state_, key, value);
        break;
      case Section::ReferenceTables:
        handleReferenceTable(state_, key, value);
        break;
      case Section::KeyActions:
        handleKeyAction(state_, key, value);
        break;
      case Section::DatalogViews:
        handleDatalogView(state_, key, value);
        break;
      default:
        break;
    }
  }

  void finish() {
    EcuDefinition& def = state_.def;
    state_.closeHelpTopic();
    detail::closeControllerRecords(state_);
    detail::buildScalars(def);
    for (const auto& [name, value] : state_.defines.entries()) {
      def.Defines.insert(name, value);
    }
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

  const std::optional<QList<SettingGroup>>& settingsSource_;
  const std::optional<FlagOverrides>& flagOverrides_;
  const std::optional<GroupSelections>& groupSelections_;
  const QString baseDirectory_;
  ReadState state_;
  QString section_;
  std::optional<QString> currentGroup_;
  // A node-based map: the passes walk an included file's lines while deeper includes add
  // entries, so an entry must never move.
  std::map<QString, QStringList> cache_;
  QStringList stack_;
  int includes_ = 0;
};

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

EcuDefinition IniParser::parse(const QString& path) const {
  std::optional<QStringList> lines = readTrimmedLines(path);
  if (!lines) {
    return EcuDefinition();
  }
  // A path without a folder part resolves includes against the current folder (".").
  const QFileInfo info(path);
  Reader reader(settingsSource_, flagOverrides_, groupSelections_, info.path());
  return reader.run(*lines, info.absoluteFilePath());
}

EcuDefinition IniParser::parseBytes(const QByteArray& bytes, const QString& baseDirectory) const {
  Reader reader(settingsSource_, flagOverrides_, groupSelections_, baseDirectory);
  return reader.run(decodeLines(bytes, true), QString());
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
