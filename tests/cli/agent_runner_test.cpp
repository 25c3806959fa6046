#include "cli/agent_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <stdexcept>

#include "support/test_support.h"

namespace tk::cli {
namespace {

// What the last handler saw, so tests can check the parsed options.
CommandOptions g_seen;

JsonValue echoHandler(CommandContext& context) {
  g_seen = context.options();
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("project"), context.options().value(QStringLiteral("project")));
  return data;
}

JsonValue failingHandler(CommandContext&) {
  throw CommandError(QStringLiteral("Table not found: veTable \u00e9"));
}

JsonValue outOfRangeHandler(CommandContext&) { throw std::out_of_range("index 7 of 3"); }

JsonValue outOfMemoryHandler(CommandContext&) { throw std::bad_alloc(); }

JsonValue oddThrowHandler(CommandContext&) { throw 42; }

JsonValue nonFiniteHandler(CommandContext&) {
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("value"), std::nan(""));
  return data;
}

const AgentCommand kTable[] = {
    {"echo", {}, "project", echoHandler, "echo the project option"},
    {"get-thing", {}, "project id name", echoHandler, "three required options"},
    {"fail", {}, "", failingHandler, "fail with a command error"},
    {"range", {}, "", outOfRangeHandler, "fail with another standard exception"},
    {"nonfinite", {}, "", nonFiniteHandler, "return data JSON cannot hold"},
    {"oom", {}, "", outOfMemoryHandler, "run out of memory"},
    {"odd", {}, "", oddThrowHandler, "throw something that is not an exception"},
};

std::optional<CommandResult> run(const QStringList& args) {
  g_seen = CommandOptions();
  return runCommand(QStringList{QStringLiteral("prog")} + args, kTable);
}

CommandResult out(const QByteArray& bytes, int code) { return {{Stream::Out, bytes}, code, {}}; }
CommandResult err(const QByteArray& bytes) { return {{Stream::Err, bytes}, 1, {}}; }

TEST(AgentRunnerTest, NoResultWithoutCommandOrForUnknownName) {
  for (const QStringList& args : {QStringList{}, QStringList{"Echo"}, QStringList{""}}) {
    EXPECT_FALSE(run(args).has_value()) << args.join(u' ').toStdString();
  }
}

TEST(AgentRunnerTest, ParsesShortAndLongOptionsLastValueWins) {
  EXPECT_EQ(
      run({"echo", "-p", "a.tkproj", "--offline", "--x", "--y", "-p", "b.tkproj", "-f", "json"}),
      out("{\n  \"success\": true,\n  \"command\": \"echo\",\n  \"data\": {\n"
          "    \"project\": \"b.tkproj\"\n  }\n}\n",
          0));
  EXPECT_TRUE(g_seen.offline);
  EXPECT_FALSE(g_seen.has("offline"));
  EXPECT_EQ(g_seen.value("x"), QStringLiteral("--y"));  // values may look like options
  EXPECT_EQ(g_seen.value("format"), QStringLiteral("json"));
}

// cli/argument-errors.txt: the arguments | the line on standard error. Required options are
// checked in table order.
TEST(AgentRunnerTest, ArgumentErrorsAreOneLineOnStandardErrorAndRunNothing) {
  for (const QString& line : test::caseLines(QStringLiteral("cli/argument-errors.txt"))) {
    const QStringList args = line.section(u'|', 0, 0).split(u' ', Qt::SkipEmptyParts);
    EXPECT_EQ(run(args), err(line.section(u'|', 1).trimmed().toUtf8() + '\n'))
        << line.toStdString();
    EXPECT_TRUE(g_seen.values.isEmpty());
  }
  EXPECT_EQ(run({"echo", ""}), err("Unrecognized argument '' for command 'echo'.\n"));
}

TEST(AgentRunnerTest, OnlyExactTextSelectsTextOutput) {
  for (const char* format : {"TEXT", "xml", "", "text "}) {
    EXPECT_EQ(run({"echo", "-p", "x", "-f", QString::fromLatin1(format)})->output.bytes.at(0), '{')
        << format;
  }
  EXPECT_EQ(run({"echo", "-p", "x", "-f", "text"}), out("project: x\n", 0));
}

// Any exception, and data JSON cannot hold, end in the error envelope.
TEST(AgentRunnerTest, FailuresBecomeErrorEnvelopes) {
  EXPECT_EQ(run({"fail"}), out("{\n  \"success\": false,\n  \"command\": \"fail\",\n"
                               "  \"error\": \"Table not found: veTable \\u00E9\"\n}\n",
                               1));
  EXPECT_EQ(run({"fail", "-f", "text"}),
            err(QString::fromUtf8("ERROR [fail]: Table not found: veTable \u00e9\n").toUtf8()));
  EXPECT_EQ(run({"range", "-f", "text"}), err("ERROR [range]: index 7 of 3\n"));
  EXPECT_EQ(run({"oom"}), out("{\n  \"success\": false,\n  \"command\": \"oom\",\n"
                              "  \"error\": \"Out of memory\"\n}\n",
                              1));
  EXPECT_EQ(run({"odd", "-f", "text"}), err("ERROR [odd]: Unexpected failure\n"));
  EXPECT_EQ(run({"nonfinite"})->exitCode, 1);
  // Text output checks the data as JSON first, so nothing of it is printed.
  EXPECT_EQ(run({"nonfinite", "-f", "text"}),
            err("ERROR [nonfinite]: Number values such as positive and negative infinity cannot "
                "be written as valid JSON.\n"));
}

// The three integer readers: 0 for a text that is no decimal 32-bit integer, said or thrown.
TEST(OptionIntTest, DecimalThirtyTwoBitOrZeroOrThrown) {
  const char* const texts[] = {"42", "-7", "0x10", "2147483648", "abc", "3.5", "-2147483648"};
  const int expected[] = {42, -7, 0, 0, 0, 0, -2147483647 - 1};
  CommandOptions o;
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    o.values.insert(QStringLiteral("a"), QString::fromLatin1(texts[i]));
    EXPECT_EQ(o.intOrZero(QStringLiteral("a"), 5), expected[i]) << texts[i];
    EXPECT_EQ(o.intAbsentOrValid(QStringLiteral("a")), expected[i] != 0) << texts[i];
  }
  EXPECT_EQ(o.intOrZero(QStringLiteral("missing"), 5), 5);
  EXPECT_TRUE(o.intAbsentOrValid(QStringLiteral("missing")));
  o.values.insert(QStringLiteral("a"), QStringLiteral(" 80 "));
  const QString message = QStringLiteral("bad '%1'");
  EXPECT_EQ(o.intInRangeOrThrow(QStringLiteral("a"), 1, 1, 80, message), 80);
  EXPECT_EQ(o.intInRangeOrThrow(QStringLiteral("missing"), 1, 2, 80, message), 1);
  EXPECT_EQ(tk::test::thrownMessage<CommandError>(
                [&] { o.intInRangeOrThrow(QStringLiteral("a"), 1, 1, 79, message); }),
            QStringLiteral("bad ' 80 '"));
}

// Progress lines go out as they come, after the warnings given before them.
TEST(CommandContextTest, ProgressFollowsEarlierWarnings) {
  const CommandOptions options;
  QByteArray diagnostics;
  QByteArray written;
  CommandContext context(options, diagnostics, [&](const QByteArray& lines) { written += lines; });
  context.warn(QStringLiteral("first"));
  context.progress(QStringLiteral("[CLI] working"));
  context.warn(QStringLiteral("later"));
  EXPECT_EQ(written, "[CLI] warning: first\n[CLI] working\n");
  EXPECT_EQ(diagnostics, "[CLI] warning: later\n");
}

}  // namespace
}  // namespace tk::cli
