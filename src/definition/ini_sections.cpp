// The section pass: the line grammar and the table of sections with their handlers.
#include "definition/ini_sections.h"

#include <QHash>

#include "definition/ini_text.h"

namespace tk::detail {
namespace {

using KeyValueHandler = void (*)(ReadState&, const QString& key, const QString& value);
using LineHandler = void (*)(ReadState&, const QString& line);

/// One section: its name and its handler, which takes either the whole line or the key and the
/// value (comment removed, defines expanded). A prefix row also takes longer names that start
/// with its name.
struct SectionRow {
  const char* name;
  bool prefix;
  LineHandler line;
  KeyValueHandler keyValue;
};

constexpr SectionRow lines(const char* name, LineHandler handler) {
  return {name, false, handler, nullptr};
}
constexpr SectionRow keyValues(const char* name, KeyValueHandler handler) {
  return {name, false, nullptr, handler};
}

void contextHelp(ReadState& state, const QString& key, const QString& value) {
  state.def.ContextHelp.insert(key, unquote(value));
}

// Before the first page line [Constants] holds page settings and [PcVariables] PC variables;
// after one, both declare constants of that page.
void constantsSection(ReadState& state, const QString& key, const QString& value) {
  if (state.currentPage) {
    handleConstantLine(state, key, value);
  } else {
    handlePageSettings(state, key, value);
  }
}

void pcVariablesSection(ReadState& state, const QString& key, const QString& value) {
  if (state.currentPage) {
    handleConstantLine(state, key, value);
  } else {
    handlePcVariable(state, key, value);
  }
}

void outputChannelsSection(ReadState& state, const QString& key, const QString& value) {
  if (isBraced(value)) {
    state.def.PcVariableExpressions.insert(key, braceInside(value));
  }
  handleOutputChannel(state, key, value);
}

// Section names are compared exactly; only the gauge sections match by prefix.
constexpr SectionRow kSections[] = {
    keyValues("SettingContextHelp", contextHelp),
    keyValues("ContextHelp", contextHelp),
    keyValues("SettingGroups", handleHelpTopic),
    keyValues("MegaTune", handleMegaTune),
    keyValues("TunerStudio", handleTunerStudio),
    keyValues("Constants", constantsSection),
    keyValues("PcVariables", pcVariablesSection),
    lines("Menu", handleMenuLine),
    lines("UserDefined", handleUserDefinedLine),
    lines("TableEditor", handleTableEditorLine),
    lines("CurveEditor", handleCurveEditorLine),
    lines("Datalog", handleDatalogLine),
    keyValues("OutputChannels", outputChannelsSection),
    keyValues("FrontPage", handleFrontPage),
    {"GaugeConfigurations", true, nullptr, handleGauge},
    keyValues("ControllerCommands", handleControllerCommand),
    keyValues("PortEditor", handlePortEditor),
    keyValues("Tools", handleTool),
    keyValues("ConstantsExtensions", handleConstantExtension),
    keyValues("EventTriggers", handleEventTrigger),
    keyValues("UserShortcuts", handleUserShortcut),
    keyValues("Replay", handleReplay),
    keyValues("VeAnalyze", handleVeAnalyze),
    keyValues("WueAnalyze", handleWueAnalyze),
    keyValues("LoggerDefinition", handleLogger),
    keyValues("ReferenceTables", handleReferenceTable),
    keyValues("KeyActions", handleKeyAction),
    keyValues("DatalogViews", handleDatalogView),
};

/// The row of a section name, or nullptr for a section that is ignored.
const SectionRow* findSection(const QString& name) {
  static const QHash<QString, const SectionRow*> exact = [] {
    QHash<QString, const SectionRow*> rows;
    for (const SectionRow& row : kSections) {
      rows.insert(QLatin1String(row.name), &row);
    }
    return rows;
  }();
  if (const SectionRow* row = exact.value(name)) {
    return row;
  }
  for (const SectionRow& row : kSections) {
    if (row.prefix && name.startsWith(QLatin1String(row.name))) {
      return &row;
    }
  }
  return nullptr;
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

/// The comment rule of key/value sections: only the first semicolon is looked at. It cuts the
/// value when the text before it is outside quotes and braces; otherwise the value stays whole,
/// that semicolon and anything after it included. Whole-line sections cut at the first semicolon
/// whatever surrounds it (prepareLine), and [Datalog] has a rule of its own.
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

void setPage(ReadState& state, int number) {
  EcuDefinition& def = state.def;
  if (!def.findPage(number)) {
    PageGroup page;
    page.PageNumber = number;
    def.Pages.append(page);
  }
  state.currentPage = number;
  state.runningOffset = 0;
  state.runningSize = 0;
}

}  // namespace

void readSections(ReadState& state, const std::vector<const QString*>& lines) {
  const SectionRow* section = nullptr;
  for (const QString* line : lines) {
    const QString& t = *line;
    const QChar first = t.at(0);
    if (first == u';') {
      continue;
    }
    if (first == u'#') {
      // A #define here replaces the value that the lines after it see.
      if (t.startsWith(QLatin1String("#define"))) {
        state.defines.defineLine(t);
      }
      continue;
    }
    if (first == u'[' && t.endsWith(u']')) {
      state.section = t.mid(1, t.size() - 2);
      section = findSection(state.section);
      if (state.section != QLatin1String("Constants")) {
        state.currentPage.reset();
      }
      continue;
    }
    if (t.startsWith(QLatin1String("page ="))) {
      // "page = 2 ; comment" is not a page switch: the number must be the whole second part.
      const QStringList parts = t.split(u'=');
      if (const auto n = parseInt(parts.at(1))) {
        setPage(state, *n);
      }
      continue;
    }
    const qsizetype eq = t.indexOf(u'=');
    if (!section || (eq < 0 && !startsWithComponentWord(t))) {
      continue;
    }
    if (section->line) {
      section->line(state, t);
      continue;
    }
    QString key;
    QString value = t;
    if (eq >= 0) {
      const QStringView view(t);
      key = view.left(eq).trimmed().toString();
      value = removeComment(view.sliced(eq + 1).trimmed().toString());
      if (!state.defines.expand(value)) {
        continue;
      }
    }
    section->keyValue(state, key, value);
  }
}

}  // namespace tk::detail
