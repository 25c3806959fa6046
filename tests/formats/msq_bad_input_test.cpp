// Hostile MSQ input: the reader either returns a document or throws MsqError, quickly.
#include <gtest/gtest.h>

#include <random>

#include "formats/msq_reader.h"
#include "formats/msq_test_helpers.h"
#include "formats/msq_writer.h"

namespace tk {
namespace {

// Parses bytes; true when they read, false when MsqError was thrown (anything else fails).
bool reads(const QByteArray& bytes, std::string* message = nullptr) {
  try {
    parseMsq(bytes);
    return true;
  } catch (const MsqError& e) {
    if (message != nullptr) {
      *message = e.what();
    }
    return false;
  }
}

QByteArray sampleDocument() {
  using test::msqConstant;
  EcuDefinition definition;
  definition.Signature = QStringLiteral("sig");
  definition.NPages = 1;
  definition.PageSizes = {32};
  ConstantDef pc = msqConstant("pc", ConstantType::Scalar, "U08", 1);
  pc.IsPcVariable = true;
  ConstantDef mode = msqConstant("mode", ConstantType::Bits, "U08");
  mode.BitValues = {{0, QStringLiteral("Off & on")}};
  definition.Pages = {
      test::pageGroup(0, {pc}),
      test::pageGroup(1, {msqConstant("a", ConstantType::Array, "U08", 0, "%", {3, 2}), mode,
                          msqConstant("s", ConstantType::String, "ASCII", 0, "", {4})})};
  return writeMsq(definition, Tune(), QStringLiteral("a\nb"), QStringLiteral("<c>"),
                  QStringLiteral("d"));
}

TEST(MsqBadInputTest, EveryTruncatedPrefixFailsCleanly) {
  const QByteArray doc = sampleDocument();
  ASSERT_TRUE(reads(doc));
  for (qsizetype n = 0; n < doc.size(); ++n) {
    std::string message;
    EXPECT_FALSE(reads(doc.first(n), &message)) << "prefix " << n;
    EXPECT_EQ(message.rfind("MSQ: XML parse error: ", 0), 0u) << "prefix " << n << ": " << message;
  }
}

TEST(MsqBadInputTest, RandomBytesAndMutationsNeverEscapeAsOtherErrors) {
  std::mt19937 rng(20250101);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    QByteArray noise(round * 7 % 600, '\0');
    for (char& c : noise) {
      c = static_cast<char>(byte(rng));
    }
    reads(noise);
    reads("<msq><page><constant name=\"x\" rows=\"2\">" + noise + "</constant></page></msq>");
  }
  const QByteArray doc = sampleDocument();
  std::uniform_int_distribution<qsizetype> position(0, doc.size() - 1);
  for (int round = 0; round < 1000; ++round) {
    QByteArray mutated = doc;
    for (int k = 0; k < 1 + round % 4; ++k) {
      mutated[position(rng)] = static_cast<char>(byte(rng));
    }
    reads(mutated);
  }
}

TEST(MsqBadInputTest, EntityExpansionBombIsRefused) {
  QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE msq [\n<!ENTITY l0 \"lollollollollol\">\n";
  for (int i = 1; i <= 10; ++i) {
    bomb += "<!ENTITY l" + QByteArray::number(i) + " \"";
    for (int k = 0; k < 10; ++k) {
      bomb += "&l" + QByteArray::number(i - 1) + ';';
    }
    bomb += "\">\n";
  }
  bomb +=
      "]>\n<msq><bibliography author=\"&l10;\"/><page><constant name=\"c\">&l10;</constant>"
      "</page></msq>";
  std::string message;
  EXPECT_FALSE(reads(bomb, &message));
  EXPECT_EQ(message.rfind("MSQ: XML parse error: ", 0), 0u) << message;
}

TEST(MsqBadInputTest, ExternalEntitiesAreNotFetched) {
  const QByteArray doc =
      "<?xml version=\"1.0\"?><!DOCTYPE msq [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
      "<msq><page><constant name=\"c\">&x;</constant></page></msq>";
  try {
    const MsqDocument read = parseMsq(doc);
    ASSERT_EQ(read.Fields.size(), 1);
    EXPECT_TRUE(read.Fields.at(0).StringValue.isEmpty());
  } catch (const MsqError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("MSQ: XML parse error: ", 0), 0u);
  }
}

TEST(MsqBadInputTest, FiftyMegabyteAttributeReads) {
  constexpr qsizetype kSize = 50 * 1024 * 1024;
  QByteArray doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><msq><bibliography author=\"";
  doc.reserve(kSize + 200);
  doc.append(kSize, 'A');
  doc.append("\"/></msq>");
  const MsqDocument read = parseMsq(doc);
  EXPECT_EQ(read.Author.size(), kSize);
  EXPECT_TRUE(read.Author.startsWith(u"AAAA"));
}

TEST(MsqBadInputTest, DeepNestingReadsWithoutRecursion) {
  constexpr int kDepth = 100000;
  QByteArray doc = "<msq><page><constant name=\"deep\">";
  for (int i = 0; i < kDepth; ++i) {
    doc += "<p>";
  }
  doc += '7';
  for (int i = 0; i < kDepth; ++i) {
    doc += "</p>";
  }
  doc += "</constant>";
  for (int i = 0; i < kDepth; ++i) {
    doc += "<page>";
  }
  doc += "<constant name=\"inner\">8</constant>";
  for (int i = 0; i < kDepth; ++i) {
    doc += "</page>";
  }
  doc += "</page></msq>";
  const MsqDocument read = parseMsq(doc);
  ASSERT_EQ(read.Fields.size(), 2);
  EXPECT_EQ(read.Fields.at(0).NumericValue, 7.0);
  EXPECT_EQ(read.Fields.at(1).NumericValue, 8.0);
}

TEST(MsqBadInputTest, MalformedUtf16IsReadOrRefusedCleanly) {
  // An odd byte count and an unpaired surrogate in a UTF-16 file.
  QByteArray doc("\xFF\xFE", 2);
  for (const char c : QByteArray("<msq><bibliography author=\"x")) {
    doc.append(c);
    doc.append('\0');
  }
  doc.append("\x00\xD8", 2);  // high surrogate without its pair
  for (const char c : QByteArray("\"/></msq>")) {
    doc.append(c);
    doc.append('\0');
  }
  doc.append('\x41');
  std::string message;
  if (!reads(doc, &message)) {
    EXPECT_EQ(message.rfind("MSQ: XML parse error: ", 0), 0u) << message;
  }
}

}  // namespace
}  // namespace tk
