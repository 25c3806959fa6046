#include "cli/agent_runner.h"

#include "cli/envelope.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

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
    {"echo", echoHandler, {"project"}},
    {"get-thing", echoHandler, {"project", "id", "name"}},
    {"plain", noDataHandler, {}},
    {"fail", failingHandler, {}},
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
  run({QStringLiteral("Echo")}, &code);
  EXPECT_FALSE(code.has_value());
  run({QStringLiteral("")}, &code);
  EXPECT_FALSE(code.has_value());
}

TEST_F(AgentRunnerTest, ParsesShortAndLongOptionsLastValueWins) {
  std::optional<int> code;
  const auto c = run({QStringLiteral("echo"), QStringLiteral("-p"), QStringLiteral("a.tkproj"),
                      QStringLiteral("--offline"), QStringLiteral("--x"), QStringLiteral("--y"),
                      QStringLiteral("-p"), QStringLiteral("b.tkproj"), QStringLiteral("-f"),
                      QStringLiteral("json")},
                     &code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(g_seen.offline);
  EXPECT_EQ(g_seen.value(QStringLiteral("project")), QStringLiteral("b.tkproj"));
  EXPECT_EQ(g_seen.value(QStringLiteral("x")), QStringLiteral("--y"));  // values may look like options
  EXPECT_EQ(g_seen.value(QStringLiteral("format")), QStringLiteral("json"));
  EXPECT_FALSE(g_seen.has(QStringLiteral("offline")));
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
      {{QStringLiteral("echo"), QStringLiteral("word")},
       "Unrecognized argument 'word' for command 'echo'.\n"},
      {{QStringLiteral("echo"), QStringLiteral("--offline"), QStringLiteral("bare")},
       "Unrecognized argument 'bare' for command 'echo'.\n"},
      {{QStringLiteral("echo"), QStringLiteral("--")},
       "Unrecognized argument '--' for command 'echo'.\n"},
      {{QStringLiteral("echo"), QStringLiteral("-x")},
       "Unrecognized argument '-x' for command 'echo'.\n"},
      {{QStringLiteral("echo"), QStringLiteral("")}, "Unrecognized argument '' for command 'echo'.\n"},
      {{QStringLiteral("echo"), QStringLiteral("--name")}, "Option '--name' requires a value.\n"},
      {{QStringLiteral("echo"), QStringLiteral("-p"), QStringLiteral("x"), QStringLiteral("-f")},
       "Option '--format' requires a value.\n"},
      {{QStringLiteral("echo"), QStringLiteral("-p")}, "Option '--project' requires a value.\n"},
      {{QStringLiteral("echo")}, "Option '--project' is required.\n"},
      {{QStringLiteral("echo"), QStringLiteral("--format"), QStringLiteral("text")},
       "Option '--project' is required.\n"},
      // Required options are checked in table order.
      {{QStringLiteral("get-thing"), QStringLiteral("--name"), QStringLiteral("n"),
        QStringLiteral("-p"), QStringLiteral("p")},
       "Option '--id' is required.\n"},
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
    const auto c = run({QStringLiteral("plain"), QStringLiteral("-f"), QString::fromLatin1(format)});
    EXPECT_EQ(c.out, "{\n  \"success\": true,\n  \"command\": \"plain\"\n}\n") << format;
  }
  const auto c = run({QStringLiteral("plain"), QStringLiteral("--format"), QStringLiteral("text")});
  EXPECT_EQ(c.out, "[plain] OK\n");
}

TEST_F(AgentRunnerTest, HandlerExceptionsBecomeErrorEnvelopes) {
  std::optional<int> code;
  auto c = run({QStringLiteral("fail")}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(c.out,
            "{\n  \"success\": false,\n  \"command\": \"fail\",\n"
            "  \"error\": \"Table not found: veTable \\u00E9\"\n}\n");
  c = run({QStringLiteral("fail"), QStringLiteral("-f"), QStringLiteral("text")}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(c.out.isEmpty());
  EXPECT_EQ(c.err, QString::fromUtf8("ERROR [fail]: Table not found: veTable \u00e9\n").toUtf8());
}

TEST_F(AgentRunnerTest, UnwritableDataFailsBeforeAnythingIsPrinted) {
  for (const char* format : {"json", "text"}) {
    std::optional<int> code;
    const auto c = run({QStringLiteral("nonfinite"), QStringLiteral("-f"), QString::fromLatin1(format)}, &code);
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
  CommandOptions o;
  o.values.insert(QStringLiteral("a"), QStringLiteral("42"));
  o.values.insert(QStringLiteral("b"), QStringLiteral("-7"));
  o.values.insert(QStringLiteral("c"), QStringLiteral("0x10"));
  o.values.insert(QStringLiteral("d"), QStringLiteral("2147483648"));
  o.values.insert(QStringLiteral("e"), QStringLiteral("abc"));
  o.values.insert(QStringLiteral("f"), QStringLiteral("3.5"));
  o.values.insert(QStringLiteral("g"), QStringLiteral("-2147483648"));
  EXPECT_EQ(optionInt(o, QStringLiteral("a"), 5), 42);
  EXPECT_EQ(optionInt(o, QStringLiteral("b"), 5), -7);
  EXPECT_EQ(optionInt(o, QStringLiteral("c"), 5), 0);
  EXPECT_EQ(optionInt(o, QStringLiteral("d"), 5), 0);
  EXPECT_EQ(optionInt(o, QStringLiteral("e"), 5), 0);
  EXPECT_EQ(optionInt(o, QStringLiteral("f"), 5), 0);
  EXPECT_EQ(optionInt(o, QStringLiteral("g"), 5), -2147483647 - 1);
  EXPECT_EQ(optionInt(o, QStringLiteral("missing"), 5), 5);
}

}  // namespace
}  // namespace tk::cli
