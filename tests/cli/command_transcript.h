#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <utility>

#include "cli/agent_runner.h"
#include "support/test_support.h"

namespace tk::cli::test {

/// The envelope a command printed, and its "data" member.
inline QJsonObject envelope(const CommandResult& r) {
  return QJsonDocument::fromJson(r.output.bytes).object();
}
inline QJsonObject dataOf(const CommandResult& r) { return envelope(r).value("data").toObject(); }

/// Runs agent command lines in-process and records each run (command line, the push's standard
/// error lines, exit code, stream, output) for comparison with a golden file. Tokens such as
/// <project> stand for texts that differ between test runs, in command lines and in the
/// recorded output.
class CommandTranscript {
 public:
  /// token stands for text from now on, replacing what it stood for before; replacements apply
  /// in the order the tokens were first defined.
  void define(const QString& token, const QString& text) {
    for (auto& entry : tokens_) {
      if (entry.first == token) {
        entry.second = text;
        return;
      }
    }
    tokens_.append({token, text});
  }

  /// Runs one command line: arguments split at blanks, '...' quoting one argument.
  CommandResult run(const QString& line) {
    static const QRegularExpression kArgument(QStringLiteral("'([^']*)'|(\\S+)"));
    QStringList args;
    for (const QRegularExpressionMatch& m : kArgument.globalMatch(line)) {
      QString arg = m.captured(m.lastCapturedIndex());
      for (const auto& [token, text] : tokens_) {
        arg.replace(token, text);
      }
      args.append(arg);
    }
    const std::optional<CommandResult> result =
        runCommand(QStringList{QStringLiteral("prog")} + args, agentCommands());
    EXPECT_TRUE(result.has_value()) << line.toStdString();
    const CommandResult r = result.value_or(CommandResult());
    for (QString& a : args) {
      a = a.isEmpty() || a.contains(u' ') ? u'\'' + a + u'\'' : a;
    }
    QByteArray entry = "$ " + args.join(u' ').toUtf8() + '\n';
    for (const QByteArray& stderrLine : r.diagnostics.split('\n')) {
      entry += stderrLine.isEmpty() ? QByteArray() : "stderr first: " + stderrLine + '\n';
    }
    entry += "exit " + QByteArray::number(r.exitCode) +
             (r.output.stream == Stream::Err ? ", stderr:\n" : ", stdout:\n") + r.output.bytes;
    // Written with the tokens of the moment, so that a token may change between commands.
    for (const auto& [token, value] : tokens_) {
      entry.replace(value.toUtf8(), token.toUtf8());
    }
    text_ += entry;
    return r;
  }
  /// Runs every line of the command script below tests/data/cli; lines starting with "#" go to
  /// the transcript as they are.
  void runScript(const char* name) {
    const QByteArray script =
        tk::test::readFile(tk::test::dataPath(QStringLiteral("cli/") + QLatin1String(name)));
    ASSERT_FALSE(script.isEmpty()) << name;
    for (const QByteArray& line : script.trimmed().split('\n')) {
      if (line.startsWith('#')) {
        text_ += line + '\n';
      } else {
        run(QString::fromUtf8(line));
      }
    }
  }
  /// Adds a comment line, saying what the test changed between commands.
  void note(const char* comment) { text_ += QByteArray("# ") + comment + '\n'; }

  /// The transcript compared with the golden file below tests/data/cli.
  ::testing::AssertionResult matches(const char* golden) const {
    return tk::test::matchesGolden(text_, QStringLiteral("cli/") + QLatin1String(golden));
  }

 private:
  QList<std::pair<QString, QString>> tokens_;
  QByteArray text_;
};

}  // namespace tk::cli::test
