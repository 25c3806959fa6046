// libFuzzer target: the definition reader and its canonical JSON must accept any bytes.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  tk::IniParser parser;
  // Without a base directory no include is read, so every run sees only its own bytes.
  const tk::EcuDefinition definition = parser.parseBytes(bytes, QString());
  const QByteArray text = tk::serialize(tk::definitionJson(definition));
  if (text.isEmpty()) {
    __builtin_trap();  // a document is never empty
  }
  return 0;
}
