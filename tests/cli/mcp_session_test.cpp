// The MCP session's replies to single lines, and the tool schemas generated from the table.

#include "cli/mcp_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "cli/mcp_tools.h"
#include "json/json_writer.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli::mcp {
namespace {

class McpSessionTest : public tk::test::AppTest {
 protected:
  // The one reply to line (after an initialize when initialized is set).
  QJsonObject replyTo(const QByteArray& line, bool initialized = true) {
    QList<QByteArray> sent;
    Session session(project, agentCommands(), [&](const QByteArray& m) { sent.append(m); });
    if (initialized) {
      session.handleLine(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})");
      sent.clear();
    }
    session.handleLine(line);
    EXPECT_EQ(sent.size(), 1) << line.toStdString();
    return sent.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(sent.first()).object();
  }

  QTemporaryDir dir;
  QString project = tk::test::makeProject(dir.filePath(QStringLiteral("p")));
};

TEST_F(McpSessionTest, AnswersBadInputWithTheProtocolsErrors) {
  const struct {
    const char* line;
    int code;
    const char* named;
  } cases[] = {
      {"{\"jsonrpc\":", kParseError, "Parse error"},
      {"[1]", kInvalidRequest, "one JSON object"},
      {R"({"jsonrpc":"2.0","id":1,"method":"nope"})", kMethodNotFound, "nope"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"mcp"}})", kInvalidParams,
       "Unknown tool: mcp"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get-table",)"
       R"("arguments":{"id":"veTable1Tbl","format":"text"}}})",
       kInvalidParams, "'format'"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"set-table-cell",)"
       R"("arguments":{"id":"veTable1Tbl","row":0,"col":true,"value":1}}})",
       kInvalidParams, "'col' must be an integer"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get-field"}})",
       kInvalidParams, "'name'"},
      {R"({"jsonrpc":"2.0","id":[1],"method":"tools/list"})", kInvalidRequest, "'id' must be"},
      {R"({"jsonrpc":"1.0","id":1,"method":"tools/list"})", kInvalidRequest, "'jsonrpc' must be"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":[]})", kInvalidParams,
       "'params' must be an object"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":1}})", kInvalidParams,
       "'name' must be a string"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get-table",)"
       R"("arguments":[]}})",
       kInvalidParams, "'arguments' must be an object"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"set-table",)"
       R"("arguments":{"id":"veTable1Tbl","values":5}}})",
       kInvalidParams, "'values' must be an array or a JSON string"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"set-scalar",)"
       R"("arguments":{"name":"reqFuel","value":true}}})",
       kInvalidParams, "'value' must be a number or a string"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"set-scalar",)"
       R"("arguments":{"name":"reqFuel","value":1,"offline":"yes"}}})",
       kInvalidParams, "'offline' must be a boolean"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get-table",)"
       R"("arguments":{"id":7}}})",
       kInvalidParams, "'id' must be a string"},
  };
  for (const auto& c : cases) {
    const QJsonObject error = replyTo(c.line).value(QStringLiteral("error")).toObject();
    EXPECT_EQ(error.value(QStringLiteral("code")).toInt(), c.code) << c.line;
    EXPECT_TRUE(error.value(QStringLiteral("message")).toString().contains(QLatin1String(c.named)))
        << c.line;
  }
  const QJsonObject early = replyTo(R"({"jsonrpc":"2.0","id":"a","method":"tools/list"})", false);
  EXPECT_EQ(early.value(QStringLiteral("id")).toString(), QLatin1String("a"));
  EXPECT_EQ(early.value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(),
            -32002);
}

TEST_F(McpSessionTest, CallReturnsTheEnvelopeAndFlagsAnError) {
  const QJsonObject result =
      replyTo(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"get-scalar",)"
              R"("arguments":{"name":"noSuchScalar"}}})")
          .value(QStringLiteral("result"))
          .toObject();
  EXPECT_TRUE(result.value(QStringLiteral("isError")).toBool());
  const QJsonObject envelope = result.value(QStringLiteral("structuredContent")).toObject();
  EXPECT_FALSE(envelope.value(QStringLiteral("success")).toBool());
  EXPECT_EQ(envelope.value(QStringLiteral("command")).toString(), QLatin1String("get-scalar"));
  const QJsonArray content = result.value(QStringLiteral("content")).toArray();
  ASSERT_EQ(content.size(), 2);
  EXPECT_EQ(
      QJsonDocument::fromJson(content.at(0)[QStringLiteral("text")].toString().toUtf8()).object(),
      envelope);
}

TEST(McpToolsTest, SchemaComesFromTheRowsOptions) {
  const AgentCommand* cell = findTool(agentCommands(), QStringLiteral("set-table-cell"));
  ASSERT_NE(cell, nullptr);
  EXPECT_TRUE(tk::test::matchesGolden(serialize(toolDescription(*cell)) + '\n',
                                      QStringLiteral("cli/mcp-set-table-cell-tool.json")));
  const AgentCommand* diff = findTool(agentCommands(), QStringLiteral("diff"));
  const auto line = commandLine(*diff, QJsonDocument::fromJson(R"({"ecu":true,"max":3})").object(),
                                QStringLiteral("p.tkproj"));
  EXPECT_EQ(std::get<QStringList>(line),
            (QStringList{"torvik-cli", "diff", "-p", "p.tkproj", "--ecu", "--max", "3"}));
}

}  // namespace
}  // namespace tk::cli::mcp
