#include "definition/ini_preprocessor.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "definition/ini_text.h"

namespace tk::detail {
namespace {

// Include nesting, the number of files one pass reads and the characters they hold together are
// bounded, so that include cycles and files that include each other (or a large file) many times
// cannot recurse or multiply without end.
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxIncludesPerPass = 256;
constexpr qsizetype kMaxIncludedCharactersPerPass = kMaxIncludedCharacters;

qsizetype charactersOf(const QStringList& lines) {
  qsizetype characters = 0;
  for (const QString& line : lines) {
    characters += line.size();
  }
  return characters;
}

}  // namespace

void Preprocessor::ConditionStack::push(Frame f) {
  frames_.push_back(f);
  inactive_ += f.active ? 0 : 1;
}

Preprocessor::ConditionStack::Frame Preprocessor::ConditionStack::pop() {
  const Frame f = frames_.back();
  frames_.pop_back();
  inactive_ -= f.active ? 0 : 1;
  return f;
}

Preprocessor::Preprocessor(EcuDefinition& definition, DefineList& defines, QString baseDirectory,
                           const QString& topKey)
    : def_(definition), defines_(defines), baseDirectory_(std::move(baseDirectory)) {
  if (!topKey.isEmpty()) {
    stack_.append(topKey);
  }
}

/// The lines of a resolved include and its key, or nullptr when it is skipped.
const QStringList* Preprocessor::include(const QString& trimmedLine, QString& key) {
  if (baseDirectory_.isEmpty()) {
    return nullptr;
  }
  static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
  const QStringList parts = trimmedLine.split(blanks, Qt::SkipEmptyParts);
  if (parts.size() < 2) {
    return nullptr;
  }
  const QString name = parts.at(1).trimmed();
  // Only regular files count: a name leading to a device such as /dev/zero, a pipe or a folder
  // would never end or never start.
  QString path = baseDirectory_ + u'/' + name;
  if (!QFileInfo(path).isFile()) {
    path = baseDirectory_ + QStringLiteral("/projectCfg/") + name;
    if (!QFileInfo(path).isFile()) {
      return nullptr;
    }
  }
  const QFileInfo info(path);
  key = info.absoluteFilePath();
  if (stack_.contains(key) || stack_.size() >= kMaxIncludeDepth ||
      includes_ >= kMaxIncludesPerPass) {
    return nullptr;
  }
  auto it = cache_.find(key);
  if (it == cache_.end()) {
    // A file too large to fit the allowance even as UTF-16 is not read at all.
    if (info.size() > 2 * kMaxIncludedCharactersPerPass) {
      refuseInclude(name);
      return nullptr;
    }
    QStringList lines = readTrimmedLines(path).value_or(QStringList());
    const qsizetype characters = charactersOf(lines);
    it = cache_.emplace(key, CachedFile{std::move(lines), characters}).first;
  }
  if (it->second.characters > kMaxIncludedCharactersPerPass - includedCharacters_) {
    refuseInclude(name);
    return nullptr;
  }
  ++includes_;
  includedCharacters_ += it->second.characters;
  return &it->second.lines;
}

void Preprocessor::refuseInclude(const QString& name) {
  def_.refuse(QStringLiteral("#include ") + name,
              QStringLiteral("the included files hold more than %1 MiB of text")
                  .arg(kMaxIncludedCharactersPerPass >> 20));
}

qsizetype Preprocessor::charactersRead() const {
  qsizetype characters = 0;
  for (const auto& [key, file] : cache_) {
    characters += file.characters;
  }
  return characters;
}

bool Preprocessor::evaluate(const QString& symbol) const {
  if (const SettingFlag* flag = def_.SettingFlags.find(symbol)) {
    return flag->IsActive;
  }
  for (const auto& entry : def_.SettingGroups) {
    if (entry.second.SelectedOption == symbol) {
      return true;
    }
    if (entry.second.hasOption(symbol)) {
      return false;
    }
  }
  return false;
}

bool Preprocessor::isOptionName(const QString& symbol) const {
  for (const auto& entry : def_.SettingGroups) {
    if (entry.second.hasOption(symbol)) {
      return true;
    }
  }
  return false;
}

void Preprocessor::addFlag(const QString& symbol, bool value) {
  if (!symbol.isEmpty() && !def_.SettingFlags.contains(symbol)) {
    def_.SettingFlags.insert(symbol, SettingFlag{symbol, value, value});
  }
}

void Preprocessor::settingGroupLine(const QString& t) {
  const qsizetype eq = t.indexOf(u'=');
  const QString key = t.left(eq).trimmed();
  QString value = t.mid(eq + 1).trimmed();
  // The symbol pass has its own comment rule: the first semicolon ends the value when an even
  // number of double quotes stands before it. Braces do not count here, unlike the section pass.
  const qsizetype semicolon = value.indexOf(u';');
  if (semicolon >= 0 && value.left(semicolon).count(u'"') % 2 == 0) {
    value = value.left(semicolon).trimmed();
  }
  if (equalsWord(key, "settingGroup")) {
    const QStringList items = splitList(value);
    if (items.size() >= 2) {
      const QString name = items.at(0).trimmed();
      if (!def_.SettingGroups.contains(name)) {
        def_.SettingGroups.insert(name, SettingGroup{name, unquote(items.at(1)), {}, {}});
      }
      currentGroup_ = name;
    }
  } else if (equalsWord(key, "settingOption") && currentGroup_) {
    const QStringList items = splitList(value);
    SettingGroup* group = def_.SettingGroups.find(*currentGroup_);
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

void Preprocessor::collectSymbols(const QStringList& lines) {
  includes_ = 0;
  includedCharacters_ = 0;
  scanSymbols(lines);
}

// Lines arrive trimmed: both passes look only at the trimmed text, and the section pass trims
// anyway.
void Preprocessor::scanSymbols(const QStringList& lines) {
  for (const QString& t : lines) {
    if (t.isEmpty() || t.at(0) == u';') {
      continue;
    }
    // Only lines opening with '#' can be directives: the others skip the comparisons.
    const bool hash = t.at(0) == u'#';
    const auto opens = [&](const char* directive) {
      return hash && t.startsWith(QLatin1String(directive));
    };
    if (opens("#include")) {
      QString key;
      if (const QStringList* included = include(t, key)) {
        stack_.append(key);
        scanSymbols(*included);
        stack_.removeLast();
      }
    } else if (opens("#set ")) {
      addFlag(t.mid(5).trimmed(), true);
    } else if (opens("#unset ")) {
      addFlag(t.mid(7).trimmed(), false);
    } else if (opens("#if ") || opens("#elif ")) {
      const QString symbol = t.mid(t.indexOf(u' ') + 1).trimmed();
      if (!isOptionName(symbol)) {
        addFlag(symbol, false);
      }
    } else if (opens("#define")) {
      defines_.defineLine(t);
    } else if (t.at(0) == u'[' && t.endsWith(u']')) {
      section_ = t.mid(1, t.size() - 2);
    } else if (section_ == QLatin1String("SettingGroups") && t.contains(u'=')) {
      settingGroupLine(t);
    }
  }
}

void Preprocessor::mergeSettingGroups(const QList<SettingGroup>& source) {
  QSet<QString> symbols;
  for (const auto& entry : def_.SettingFlags) {
    symbols.insert(entry.first.toLower());
  }
  for (const SettingGroup& group : source) {
    if (def_.SettingGroups.contains(group.Name)) {
      continue;
    }
    for (const SettingOption& option : group.Options) {
      if (!option.Name.isEmpty() && symbols.contains(option.Name.toLower())) {
        def_.SettingGroups.insert(group.Name, group);
        break;
      }
    }
  }
  QSet<QString> optionNames;
  for (const auto& entry : def_.SettingGroups) {
    for (const SettingOption& option : entry.second.Options) {
      optionNames.insert(option.Name.toLower());
    }
  }
  def_.SettingFlags.removeIf([&optionNames](const OrderedMap<SettingFlag>::Entry& e) {
    return optionNames.contains(e.first.toLower());
  });
}

void Preprocessor::applyOverrides(const std::optional<FlagOverrides>& flags,
                                  const std::optional<GroupSelections>& selections) {
  if (flags) {
    for (const auto& [name, value] : *flags) {
      if (SettingFlag* flag = def_.SettingFlags.find(name)) {
        flag->IsActive = value;
      }
    }
  }
  if (selections) {
    for (const auto& [groupName, option] : *selections) {
      SettingGroup* group = def_.SettingGroups.find(groupName);
      if (group && group->hasOption(option)) {
        group->SelectedOption = option;
      }
    }
  }
}

std::vector<const QString*> Preprocessor::activeLines(const QStringList& lines) {
  ConditionStack conditions;
  std::vector<const QString*> out;
  out.reserve(static_cast<std::size_t>(lines.size()));
  includes_ = 0;
  includedCharacters_ = 0;
  flatten(lines, conditions, out);
  return out;
}

// Frames left open at the end of an included file stay on the stack for the lines after the
// include, as if the file's text stood in place of the directive.
void Preprocessor::flatten(const QStringList& lines, ConditionStack& conditions,
                           std::vector<const QString*>& out) {
  for (const QString& t : lines) {
    // Only lines opening with '#' can be directives: the others skip the comparisons.
    const bool hash = !t.isEmpty() && t.front() == u'#';
    const auto opens = [&](const char* directive) {
      return hash && t.startsWith(QLatin1String(directive));
    };
    if (opens("#include")) {
      QString key;
      if (!conditions.active()) {
        continue;
      }
      if (const QStringList* included = include(t, key)) {
        stack_.append(key);
        flatten(*included, conditions, out);
        stack_.removeLast();
      }
    } else if (opens("#if ")) {
      const bool value = evaluate(t.mid(4).trimmed());
      conditions.push({value, value, false});
    } else if (opens("#elif ")) {
      if (conditions.isEmpty()) {
        continue;
      }
      const ConditionStack::Frame top = conditions.pop();
      if (top.taken) {
        conditions.push({false, true, false});
      } else {
        const bool value = evaluate(t.mid(6).trimmed());
        conditions.push({value, value, false});
      }
    } else if (hash && t == QLatin1String("#else")) {
      if (!conditions.isEmpty()) {
        const ConditionStack::Frame top = conditions.pop();
        conditions.push({!top.taken, true, true});
      }
    } else if (hash && t == QLatin1String("#endif")) {
      if (!conditions.isEmpty()) {
        conditions.pop();
      }
    } else if (opens("#set ") || opens("#unset ")) {
      continue;
    } else if (conditions.active() && !t.isEmpty()) {
      // The section pass skips empty lines, so they are not kept.
      out.push_back(&t);
    }
  }
}

}  // namespace tk::detail
