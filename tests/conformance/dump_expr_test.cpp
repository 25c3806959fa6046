#include "conformance/dump_expr.h"

#include "conformance/conformance_test_util.h"
#include "json/json_writer.h"

namespace tk::conformance {
namespace {

// expr/expr_vectors.txt with its worked-out output uses every keyword; these tests cover the
// script reading rules around it.

QByteArray item(const char* kind, const char* text, const char* value) {
  return QByteArray("  {\n    \"Kind\": \"") + kind + "\",\n    \"Expr\": \"" + text +
         "\",\n    \"Value\": " + value + "\n  }";
}

TEST(VectorScriptTest, LinesAreTrimmedAndNonNumbersSetZero) {
  const auto run = [](const char* script) {
    return serialize(runVectorScript(QString::fromUtf8(script), nullptr));
  };
  EXPECT_EQ(run("set x 4\r\n  expr x * 2  \r\nset junk abc\nexpr junk\nlookup 1e308 * 10\nexpr\n"),
            "[\n" + item("expr", "x * 2", "8") + ",\n" + item("expr", "junk", "0") + ",\n" +
                item("lookup", "1e308 * 10", "\"Infinity\"") + ",\n" + item("expr", "", "0") +
                "\n]");
  EXPECT_EQ(run("# nothing\n\n"), "[]");
}

TEST(VectorScriptTest, UnknownKeywordNamesItsLineCountingEveryLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"# one\n# two\nbogus thing\nexpr 1\n", "ERROR: bad vector script line 3: bogus thing"},
      {"set a 1\n\n  Set b 2  \n", "ERROR: bad vector script line 3: Set b 2"},
      {"expr\t1\n", "ERROR: bad vector script line 1: expr\t1"}};
  for (const auto& [script, message] : cases) {
    EXPECT_EQ(test::thrownMessage<VectorScriptError>(
                  [&] { runVectorScript(QString::fromUtf8(script), nullptr); }),
              QString::fromUtf8(message));
  }
}

class DumpExprTest : public test::ConformanceTest {};

TEST_F(DumpExprTest, VectorsMatchTheWorkedOutDocumentAndABadLineWritesNothing) {
  const QString ini = test::dataPath(QStringLiteral("expr/expr_channels.ini"));
  const QString vectors = test::dataPath(QStringLiteral("expr/expr_vectors.txt"));
  ASSERT_EQ(run([&] { return dumpExpr(ini, vectors, path("out.json")); }), 0);
  EXPECT_TRUE(io_.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(test::readFile(path("out.json")),
                                  QStringLiteral("expr/expr_vectors.expected.json")));
  const QString script = writeFile("bad.txt", "# first\n\nexpr 1\nfrobnicate 2\n");
  EXPECT_EQ(run([&] { return dumpExpr(ini, script, path("bad.json")); }), 2);
  EXPECT_EQ(io_.err, "ERROR: bad vector script line 4: frobnicate 2\n");
  EXPECT_FALSE(QFile::exists(path("bad.json")));
}

}  // namespace
}  // namespace tk::conformance
