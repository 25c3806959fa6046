#include "conformance/dump_ini.h"

#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"

#include <QFileInfo>

#include <cstdio>

namespace tk::conformance {

bool isKnownIniPreset(const QString& preset) {
  return preset == QLatin1String("constants") || preset == QLatin1String("ui-defs");
}

int dumpIni(const QString& iniPath, const QString& outPath, const QString& preset) {
  if (!QFileInfo::exists(iniPath)) {
    std::fprintf(stderr, "ERROR: no such file: %s\n", iniPath.toUtf8().constData());
    return 2;
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
