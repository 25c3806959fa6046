#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "definition/ecu_definition.h"
#include "definition/ini_text.h"

namespace tk::detail {

/// `#define` symbols in order of first definition, with an index by name.
class DefineList {
 public:
  /// Sets name to value: replaced in place when known, appended otherwise.
  void set(const QString& name, const QString& value);
  /// Replaces "$name" references (up to 20 rounds); self-references stop by that bound. False
  /// when the text would grow past 1 MiB characters (or past its own length when longer) or the
  /// read's expansion allowance is spent: the caller then drops the line.
  [[nodiscard]] bool expand(QString& text);
  /// Sets the read's allowance of characters that replacements may produce, from the number of
  /// characters the read's lines hold (no replacement is made before it is set).
  void allowExpansionFor(qsizetype inputCharacters);
  /// Handles a trimmed "#define" line; other lines are ignored.
  void defineLine(const QString& trimmedLine);
  const QList<std::pair<QString, QString>>& entries() const { return entries_; }
  void clear();

 private:
  /// The lowest define index >= from that "$" + name references in text, or -1.
  qsizetype nextReferenced(const QString& text, qsizetype from) const;

  /// The expansion of a text that starts at its first dollar sign, made once and then reused.
  /// Text before the first dollar sign never takes part in a replacement, so lines that differ
  /// only there ("a = bits, U08, 1, [0:7], $list", "b = bits, U08, 2, [0:7], $list") share it.
  struct Expansion {
    QString source;
    QString result;
    // The length of the expanded part after each replacement, for the limits of the read.
    std::vector<qsizetype> steps;
    bool changed = false;
    // A replacement after the recorded steps passes a limit for every text that holds source.
    bool fails = false;
  };
  const Expansion& expansionOf(QStringView source);
  /// The rounds of replacements over text; most() bounds each new length, took(length) is told
  /// of it. False when a replacement would pass the bound (text then holds the earlier rounds).
  template <typename Most, typename Took>
  bool runRounds(QString& text, Most most, Took took) const;
  /// Expands source on its own, recording each step; fails early where every line would.
  Expansion record(QStringView source) const;
  void forgetExpansions();

  /// One node of the name trie: children by character, and the define ending here (or -1).
  struct TrieNode {
    std::vector<std::pair<char16_t, qsizetype>> children;
    qsizetype define = -1;
  };

  QList<std::pair<QString, QString>> entries_;
  QHash<QString, qsizetype> index_;
  qsizetype allowance_ = 0;
  std::vector<Expansion> expansions_;
  qsizetype expansionCharacters_ = 0;
  // The names as a trie, so that the names following a dollar sign are found in one walk.
  std::vector<TrieNode> trie_{TrieNode{}};
};

/// Everything one read of a definition keeps between lines of the section pass.
struct ReadState {
  EcuDefinition def;
  DefineList defines;
  QString section;
  /// Shares the texts that declarations repeat (data types, units, labels, conditions).
  TextPool pool;

  // Constants: the current page and the resolution of nextOffset/lastOffset.
  std::optional<int> currentPage;
  int runningOffset = 0;
  int runningSize = 0;
  int ochRunningOffset = 0;
  int ochRunningSize = 0;
  /// Elements of the constants kept so far (see kMaxDefinitionElements).
  qint64 elements = 0;

  // Multi-line records being collected.
  std::optional<HelpDefinition> openHelp;
  std::optional<LoggerDef> openLogger;
  std::optional<ReferenceTableDef> openReferenceTable;
  std::optional<DatalogView> openDatalogView;

  // Context carried from line to line.
  QString datalogCategory;
  QString gaugeCategory;
  QString currentTableId;
  bool hasCurrentTable = false;
  QString currentCurveId;
  bool hasCurrentCurve = false;
  qsizetype currentDialog = -1;
  qsizetype currentIndicatorPanel = -1;
  qsizetype currentReadoutPanel = -1;
  qsizetype currentLiveGraph = -1;
  /// Index of the open settingSelector item in the current dialog, or -1.
  qsizetype currentSelectorItem = -1;
  /// Index of the open groupMenu item in the last menu, or -1.
  qsizetype currentMenuGroup = -1;

  /// Stores the open help topic (when named) and closes it.
  void closeHelpTopic();
};

/// A key/value line after comment removal and define expansion.
struct KeyValue {
  QString key;
  QString value;
};

/// The common preparation of the line handlers: define expansion, split at the first '=',
/// value cut before its first ';' and trimmed, items split with splitList. A line dropped by the
/// expansion has no key.
struct PreparedLine {
  QString key;
  QString value;
  QStringList items;
  bool hasKey = false;
};
PreparedLine prepareLine(ReadState& state, const QString& line);

// Section handlers (key/value kind).
void handleHelpTopic(ReadState& state, const QString& key, const QString& value);
void handleMegaTune(ReadState& state, const QString& key, const QString& value);
void handleTunerStudio(ReadState& state, const QString& key, const QString& value);
void handlePageSettings(ReadState& state, const QString& key, const QString& value);
void handleConstantLine(ReadState& state, const QString& key, const QString& value);
void handlePcVariable(ReadState& state, const QString& key, const QString& value);
void handleConstantExtension(ReadState& state, const QString& key, const QString& value);
void handleOutputChannel(ReadState& state, const QString& key, const QString& value);
void handleReplay(ReadState& state, const QString& key, const QString& value);
void handleFrontPage(ReadState& state, const QString& key, const QString& value);
void handleGauge(ReadState& state, const QString& key, const QString& value);
void handleControllerCommand(ReadState& state, const QString& key, const QString& value);
void handlePortEditor(ReadState& state, const QString& key, const QString& value);
void handleTool(ReadState& state, const QString& key, const QString& value);
void handleEventTrigger(ReadState& state, const QString& key, const QString& value);
void handleUserShortcut(ReadState& state, const QString& key, const QString& value);
void handleVeAnalyze(ReadState& state, const QString& key, const QString& value);
void handleWueAnalyze(ReadState& state, const QString& key, const QString& value);
void handleLogger(ReadState& state, const QString& key, const QString& value);
void handleReferenceTable(ReadState& state, const QString& key, const QString& value);
void handleKeyAction(ReadState& state, const QString& key, const QString& value);
void handleDatalogView(ReadState& state, const QString& key, const QString& value);

// Section handlers (whole-line kind).
void handleMenuLine(ReadState& state, const QString& line);
void handleUserDefinedLine(ReadState& state, const QString& line);
void handleTableEditorLine(ReadState& state, const QString& line);
void handleCurveEditorLine(ReadState& state, const QString& line);
void handleDatalogLine(ReadState& state, const QString& line);

/// Among items[first...], the first item containing '{' gives the condition and the second the
/// visibility condition, each without surrounding braces and spaces.
void scanConditions(const QStringList& items, qsizetype first, QString& condition,
                    QString& visibility);
/// An indicator "{condition}, off label, on label[, colours]"; nothing with fewer than three items.
std::optional<IndicatorDef> parseIndicator(const QString& value);

/// Closes the open logger, reference table and datalog view at the end of a read.
void closeControllerRecords(ReadState& state);
/// Derives the Scalars map from the scalar constants and the dialog labels.
void buildScalars(EcuDefinition& definition);

}  // namespace tk::detail
