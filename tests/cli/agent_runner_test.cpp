#include "cli/agent_runner.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cli/envelope.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

// What the last handler saw, so tests can check the parsed options.
CommandOptions g_seen;

std::optional<JsonValue> echoHandler(const CommandOptions& options) {
  g_seen = options;
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("project"), options.value(QStringLiteral("project")));
  return data;
}

std::optional<JsonValue> noDataHandler(const CommandOptions& options) {
  g_seen = options;
  return std::nullopt;
}

std::optional<JsonValue> failingHandler(const CommandOptions&) {
  throw CommandError(QStringLiteral("Table not found: veTable \u00e9"));
}

std::optional<JsonValue> nonFiniteHandler(const CommandOptions&) {
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("value"), std::nan(""));
  return data;
}

const std::vector<AgentCommand> kTable = {
    {"echo", echoHandler, {"project"}},  {"get-thing", echoHandler, {"project", "id", "name"}},
    {"plain", noDataHandler, {}},        {"fail", failingHandler, {}},
    {"nonfinite", nonFiniteHandler, {}},
};

class AgentRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setTextOutput(false);
    g_seen = CommandOptions();
  }
  void TearDown() override { setTextOutput(false); }

  // Runs "prog <args>" against the test table and captures both streams.
  test::Captured run(const QStringList& args, std::optional<int>* code = nullptr) {
    std::optional<int> result;
    auto captured = test::captureStdio(
        [&] { result = runAgentCommand(QStringList{QStringLiteral("prog")} + args, kTable); });
    if (code) {
      *code = result;
    }
    return captured;
  }
};

TEST_F(AgentRunnerTest, NoResultWithoutCommandOrForUnknownName) {
  std::optional<int> code = 7;
  EXPECT_TRUE(run({}, &code).err.isEmpty());
  EXPECT_FALSE(code.has_value());
  run({"Echo"}, &code);
  EXPECT_FALSE(code.has_value());
  run({""}, &code);
  EXPECT_FALSE(code.has_value());
}

TEST_F(AgentRunnerTest, ParsesShortAndLongOptionsLastValueWins) {
  std::optional<int> code;
  const auto c = run(
      {"echo", "-p", "a.tkproj", "--offline", "--x", "--y", "-p", "b.tkproj", "-f", "json"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(g_seen.offline);
  EXPECT_EQ(g_seen.value("project"), QStringLiteral("b.tkproj"));
  EXPECT_EQ(g_seen.value("x"), QStringLiteral("--y"));  // values may look like options
  EXPECT_EQ(g_seen.value("format"), QStringLiteral("json"));
  EXPECT_FALSE(g_seen.has("offline"));
  EXPECT_EQ(c.out,
            "{\n  \"success\": true,\n  \"command\": \"echo\",\n  \"data\": {\n"
            "    \"project\": \"b.tkproj\"\n  }\n}\n");
  EXPECT_TRUE(c.err.isEmpty());
}

TEST_F(AgentRunnerTest, ArgumentErrorsPrintOneLineAndNoEnvelope) {
  struct Case {
    QStringList args;
    QByteArray err;
  };
  const Case cases[] = {
      {{"echo", "word"}, "Unrecognized argument 'word' for command 'echo'.\n"},
      {{"echo", "--offline", "bare"}, "Unrecognized argument 'bare' for command 'echo'.\n"},
      {{"echo", "--"}, "Unrecognized argument '--' for command 'echo'.\n"},
      {{"echo", "-x"}, "Unrecognized argument '-x' for command 'echo'.\n"},
      {{"echo", ""}, "Unrecognized argument '' for command 'echo'.\n"},
      {{"echo", "--name"}, "Option '--name' requires a value.\n"},
      {{"echo", "-p", "x", "-f"}, "Option '--format' requires a value.\n"},
      {{"echo", "-p"}, "Option '--project' requires a value.\n"},
      {{"echo"}, "Option '--project' is required.\n"},
      {{"echo", "--format", "text"}, "Option '--project' is required.\n"},
      // Required options are checked in table order.
      {{"get-thing", "--name", "n", "-p", "p"}, "Option '--id' is required.\n"},
  };
  for (const Case& tc : cases) {
    std::optional<int> code;
    const auto c = run(tc.args, &code);
    EXPECT_EQ(code, 1) << tc.args.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(c.err, tc.err);
    EXPECT_TRUE(c.out.isEmpty());
    EXPECT_FALSE(textOutput());
  }
}

TEST_F(AgentRunnerTest, OnlyExactTextSelectsTextOutput) {
  for (const char* format : {"TEXT", "xml", "", "text "}) {
    const auto c = run({"plain", "-f", QString::fromLatin1(format)});
    EXPECT_EQ(c.out, "{\n  \"success\": true,\n  \"command\": \"plain\"\n}\n") << format;
  }
  const auto c = run({"plain", "--format", "text"});
  EXPECT_EQ(c.out, "[plain] OK\n");
}

TEST_F(AgentRunnerTest, HandlerExceptionsBecomeErrorEnvelopes) {
  std::optional<int> code;
  auto c = run({"fail"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(c.out,
            "{\n  \"success\": false,\n  \"command\": \"fail\",\n"
            "  \"error\": \"Table not found: veTable \\u00E9\"\n}\n");
  c = run({"fail", "-f", "text"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(c.out.isEmpty());
  EXPECT_EQ(c.err, QString::fromUtf8("ERROR [fail]: Table not found: veTable \u00e9\n").toUtf8());
}

TEST_F(AgentRunnerTest, UnwritableDataFailsBeforeAnythingIsPrinted) {
  for (const char* format : {"json", "text"}) {
    std::optional<int> code;
    const auto c = run({"nonfinite", "-f", QString::fromLatin1(format)}, &code);
    EXPECT_EQ(code, 1);
    if (QByteArray(format) == "json") {
      EXPECT_TRUE(c.out.startsWith("{\n  \"success\": false,\n  \"command\": \"nonfinite\",\n"));
    } else {
      EXPECT_TRUE(c.out.isEmpty());
      EXPECT_TRUE(c.err.startsWith("ERROR [nonfinite]: "));
    }
  }
}

TEST(OptionIntTest, DecimalThirtyTwoBitOrZero) {
  const std::pair<const char*, int> cases[] = {{"42", 42},
                                               {"-7", -7},
                                               {"0x10", 0},
                                               {"2147483648", 0},
                                               {"abc", 0},
                                               {"3.5", 0},
                                               {"-2147483648", -2147483647 - 1}};
  for (const auto& [text, expected] : cases) {
    CommandOptions o;
    o.values.insert(QStringLiteral("a"), QString::fromLatin1(text));
    EXPECT_EQ(optionInt(o, QStringLiteral("a"), 5), expected) << text;
    EXPECT_EQ(optionInt(o, QStringLiteral("missing"), 5), 5);
  }
}

}  // namespace
}  // namespace tk::cli
