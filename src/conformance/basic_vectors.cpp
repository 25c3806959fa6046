#include "conformance/basic_vectors.h"

#include <QByteArray>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "comms/crc32.h"
#include "json/json_writer.h"

namespace tk::conformance {
namespace {

QString hexText(std::uint64_t value, int digits) {
  return QStringLiteral("0x") +
         QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

JsonValue crcVector(const char* name, qsizetype length, std::uint32_t crc) {
  JsonValue v = JsonValue::object();
  v.insert(QStringLiteral("name"), name);
  v.insert(QStringLiteral("length"), static_cast<long long>(length));
  v.insert(QStringLiteral("crc32"), hexText(crc, 8));
  return v;
}

JsonValue crcVector(const char* name, const QByteArray& bytes) {
  return crcVector(name, bytes.size(), comms::crc32(bytes));
}

QByteArray generated(int length, auto byteAt) {
  QByteArray bytes(length, '\0');
  for (int k = 0; k < length; ++k) {
    bytes[k] = static_cast<char>(byteAt(k) & 0xFF);
  }
  return bytes;
}

}  // namespace

JsonValue crc32Vectors() {
  JsonValue list = JsonValue::array();
  list.append(crcVector("empty", QByteArray()));
  list.append(crcVector("zero-byte", QByteArray(1, '\0')));
  list.append(crcVector("check-123456789", QByteArrayLiteral("123456789")));
  list.append(crcVector("ascending-256", generated(256, [](int k) { return k; })));
  list.append(crcVector("mod7-1k", generated(1024, [](int k) { return 7 * k; })));
  list.append(crcVector("ff-64", QByteArray(64, '\xFF')));
  // The last vector continues one running CRC over two separate blocks.
  comms::Crc32 running;
  running.update(generated(100, [](int k) { return k; }));
  running.update(generated(50, [](int k) { return 0xFF - k; }));
  list.append(crcVector("combined-a100-b50", 150, running.value()));
  return list;
}

JsonValue jsonFormatVectors() {
  const double doubles[] = {0.0,
                            -0.0,
                            1.0,
                            -1.0,
                            1.5,
                            100.0,
                            65535.0,
                            4294967295.0,
                            0.1,
                            0.2,
                            0.3,
                            1.0 / 3.0,
                            2.0 / 3.0,
                            0.30000000000000004,
                            0.0001,
                            1e-05,
                            1e-06,
                            1e-07,
                            1e-10,
                            1234.5678,
                            99999.99999,
                            -12345.000001,
                            123456789012345.6,
                            1e6,
                            1e7,
                            1e14,
                            1e15,
                            1e16,
                            1e17,
                            1e21,
                            std::numbers::pi,
                            std::numbers::e,
                            6.02214076e+23,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::min(),
                            1.0000000000000002,
                            1.2345678901234568e+16};
  const float singles[] = {0.0f,
                           0.1f,
                           0.5f,
                           1.0f / 3.0f,
                           100.0f,
                           25.4f,
                           6553.5f,
                           0.001f,
                           1e-05f,
                           std::numbers::pi_v<float>,
                           std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::min(),
                           65536.0f,
                           1e5f,
                           1e6f,
                           1e7f,
                           1e8f,
                           1e9f,
                           1e10f,
                           16777216.0f,
                           1e16f,
                           1e17f,
                           0.0001f};
  const long long ints[] = {0,
                            -1,
                            255,
                            -32768,
                            2147483647,
                            -2147483648LL,
                            std::numeric_limits<long long>::max(),
                            std::numeric_limits<long long>::min()};

  JsonValue doubleList = JsonValue::array();
  for (double d : doubles) {
    JsonValue v = JsonValue::object();
    v.insert(QStringLiteral("bits"), hexText(std::bit_cast<std::uint64_t>(d), 16));
    v.insert(QStringLiteral("value"), d);
    doubleList.append(std::move(v));
  }
  JsonValue singleList = JsonValue::array();
  for (float f : singles) {
    JsonValue v = JsonValue::object();
    v.insert(QStringLiteral("bits"), hexText(std::bit_cast<std::uint32_t>(f), 8));
    v.insert(QStringLiteral("value"), f);
    singleList.append(std::move(v));
  }
  JsonValue intList = JsonValue::array();
  for (long long i : ints) {
    intList.append(i);
  }
  JsonValue strings = JsonValue::array();
  strings.append("plain ascii");
  strings.append("quote\" backslash\\ slash/");
  strings.append(QStringLiteral("ctrl\t\r\n") + QChar(0x0001) + QChar(0x001F));
  strings.append("<html> & 'plus+'");
  strings.append("punct !#$%()*,-./:;=?@[]^_`{|}~");
  strings.append(QStringLiteral("caf") + QChar(0x00E9) + QStringLiteral(" ") + QChar(0x65E5) +
                 QChar(0x672C) + QChar(0x8A9E));
  strings.append(QStringLiteral("emoji ") + QChar(0xD83D) + QChar(0xDE00) + QStringLiteral(" end"));

  JsonValue nestedArray = JsonValue::array();
  nestedArray.append(1);
  JsonValue inner = JsonValue::object();
  inner.insert(QStringLiteral("b"), nullptr);
  nestedArray.append(std::move(inner));
  JsonValue nested = JsonValue::object();
  nested.insert(QStringLiteral("a"), std::move(nestedArray));
  JsonValue flags = JsonValue::array();
  flags.append(true);
  flags.append(false);
  JsonValue layout = JsonValue::object();
  layout.insert(QStringLiteral("emptyObj"), JsonValue::object());
  layout.insert(QStringLiteral("emptyArr"), JsonValue::array());
  layout.insert(QStringLiteral("nested"), std::move(nested));
  layout.insert(QStringLiteral("flags"), std::move(flags));

  JsonValue doc = JsonValue::object();
  doc.insert(QStringLiteral("doubles"), std::move(doubleList));
  doc.insert(QStringLiteral("singles"), std::move(singleList));
  doc.insert(QStringLiteral("ints"), std::move(intList));
  doc.insert(QStringLiteral("strings"), std::move(strings));
  doc.insert(QStringLiteral("layout"), std::move(layout));
  return doc;
}

int dumpCrc32(const QString& outPath) { return writeJsonFile(crc32Vectors(), outPath); }

int dumpJsonFmt(const QString& outPath) { return writeJsonFile(jsonFormatVectors(), outPath); }

}  // namespace tk::conformance
