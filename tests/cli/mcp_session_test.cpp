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

// cli/mcp-bad-requests.txt: each line of cli/mcp-bad-requests.jsonl and the replies to it.
TEST_F(McpSessionTest, AnswersBadInputWithTheProtocolsErrors) {
  QByteArray transcript;
  Session session(project, agentCommands(),
                  [&](const QByteArray& m) { transcript += "< " + m + '\n'; });
  session.handleLine(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})");
  transcript.clear();
  const QByteArray requests =
      tk::test::readFile(tk::test::dataPath(QStringLiteral("cli/mcp-bad-requests.jsonl")));
  for (const QByteArray& line : requests.trimmed().split('\n')) {
    transcript += "> " + line + '\n';
    session.handleLine(line);
  }
  EXPECT_TRUE(tk::test::matchesGolden(transcript, QStringLiteral("cli/mcp-bad-requests.txt")));
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
