#include "conformance/dump_ini.h"

#include "conformance/conformance_io.h"
#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"

namespace tk::conformance {

bool isKnownIniPreset(const QString& preset) {
  return preset == QLatin1String("constants") || preset == QLatin1String("ui-defs");
}

int dumpIni(const QString& iniPath, const QString& outPath, const QString& preset) {
  if (const int code = requireInputFile(iniPath)) {
    return code;
  }
  const EcuDefinition definition = IniParser().parse(iniPath);
  if (preset == QLatin1String("constants")) {
    return writeJsonFile(constantsJson(definition), outPath);
  }
  if (preset == QLatin1String("ui-defs")) {
    return writeJsonFile(uiDefsJson(definition), outPath);
  }
  return writeJsonFile(definitionJson(definition), outPath);
}

}  // namespace tk::conformance
