#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

#include "definition/ecu_definition.h"
#include "definition/ini_parser.h"
#include "definition/ini_read_state.h"

namespace tk::detail {

/// The preprocessor of one read: includes, symbols, setting groups and conditional blocks. It
/// fills the definition's SettingFlags and SettingGroups and the define list, and hands the
/// section reader the lines of the active branches.
class Preprocessor {
 public:
  /// Includes resolve against baseDirectory (none when empty); topKey names the top-level file
  /// (empty when it has none) so that it cannot include itself.
  Preprocessor(EcuDefinition& definition, DefineList& defines, QString baseDirectory,
               const QString& topKey);

  /// Symbol pass over the file and every include, conditions disregarded: flags from #set,
  /// #unset and tested symbols, #define values, setting groups and their options.
  void collectSymbols(const QStringList& lines);
  /// Appends the groups of source whose options the file uses as symbols, then drops the flags
  /// that name an option of any group.
  void mergeSettingGroups(const QList<SettingGroup>& source);
  /// Sets IsActive of existing flags and SelectedOption of existing groups that have the option.
  void applyOverrides(const std::optional<FlagOverrides>& flags,
                      const std::optional<GroupSelections>& selections);
  /// Flattening pass: the lines of the active branches, includes read in place. The lines point
  /// into this preprocessor's copies of the files, valid while it lives.
  std::vector<const QString*> activeLines(const QStringList& lines);
  /// The characters of the included files read, each counted once.
  qsizetype charactersRead() const;

 private:
  /// A stack of conditional frames that knows in constant time whether every frame is active.
  class ConditionStack {
   public:
    struct Frame {
      bool active;
      bool taken;
      bool elseSeen;
    };
    bool active() const { return inactive_ == 0; }
    bool isEmpty() const { return frames_.empty(); }
    void push(Frame f);
    Frame pop();

   private:
    std::vector<Frame> frames_;
    std::size_t inactive_ = 0;
  };

  const QStringList* include(const QString& trimmedLine, QString& key);
  // Records that the include of name was left out for the text budget.
  void refuseInclude(const QString& name);
  bool evaluate(const QString& symbol) const;
  bool isOptionName(const QString& symbol) const;
  void addFlag(const QString& symbol, bool value);
  void settingGroupLine(const QString& t);
  void scanSymbols(const QStringList& lines);
  void flatten(const QStringList& lines, ConditionStack& conditions,
               std::vector<const QString*>& out);

  EcuDefinition& def_;
  DefineList& defines_;
  const QString baseDirectory_;
  QString section_;
  std::optional<QString> currentGroup_;
  struct CachedFile {
    QStringList lines;
    qsizetype characters;
  };
  // A node-based map: the passes walk an included file's lines while deeper includes add
  // entries, so an entry must never move.
  std::map<QString, CachedFile> cache_;
  QStringList stack_;
  int includes_ = 0;
  qsizetype includedCharacters_ = 0;
};

}  // namespace tk::detail
