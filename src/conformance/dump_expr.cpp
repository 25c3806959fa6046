#include "conformance/dump_expr.h"

#include <QStringList>
#include <algorithm>

#include "conformance/conformance_io.h"
#include "definition/ini_parser.h"
#include "expr/ecu_definition_view.h"
#include "expr/expression_evaluator.h"
#include "json/json_writer.h"

namespace tk::conformance {
namespace {

constexpr double kSecondsPerCycle = 1.0;

// "name value": the name before the first blank, the value after it; non-numbers give 0.
std::pair<QString, double> nameAndValue(const QString& rest) {
  const qsizetype blank = rest.indexOf(QLatin1Char(' '));
  if (blank < 0) {
    return {rest, 0.0};
  }
  bool ok = false;
  const double value = rest.mid(blank + 1).trimmed().toDouble(&ok);
  return {rest.left(blank), ok ? value : 0.0};
}

JsonValue resultObject(const QString& kind, const QString& text, JsonValue value) {
  JsonValue result = JsonValue::object();
  result.insert(QStringLiteral("Kind"), kind);
  result.insert(QStringLiteral("Expr"), text);
  result.insert(QStringLiteral("Value"), std::move(value));
  return result;
}

}  // namespace

ScriptHost::ScriptHost(const expr::DefinitionView* definition, expr::ExpressionState& state)
    : definition_(definition), state_(state) {}

double ScriptHost::getValue(const QString& name) const {
  return (lookupActive_ ? lookups_ : variables_).value(name, 0.0);
}

void ScriptHost::cycle() {
  QStringList names = variables_.keys();
  std::sort(names.begin(), names.end());
  for (const QString& name : std::as_const(names)) {
    state_.record(name, variables_.value(name));
  }
  state_.setLogTime(state_.logTime() + kSecondsPerCycle);
}

JsonValue runVectorScript(const QString& script, const expr::DefinitionView* definition) {
  expr::ExpressionState state;
  ScriptHost host(definition, state);
  expr::ExpressionEvaluator evaluator;
  JsonValue results = JsonValue::array();
  const QStringList lines = script.split(QLatin1Char('\n'));
  for (qsizetype index = 0; index < lines.size(); ++index) {
    const QString line = lines.at(index).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
      continue;
    }
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString keyword = blank < 0 ? line : line.left(blank);
    const QString rest = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
    if (keyword == QLatin1String("set")) {
      const auto [name, value] = nameAndValue(rest);
      host.setVariable(name, value);
    } else if (keyword == QLatin1String("lset")) {
      const auto [name, value] = nameAndValue(rest);
      host.setLookup(name, value);
    } else if (keyword == QLatin1String("record")) {
      const auto [name, value] = nameAndValue(rest);
      host.record(name, value);
    } else if (keyword == QLatin1String("cycle")) {
      host.cycle();
    } else if (keyword == QLatin1String("resetstate")) {
      state.reset();
    } else if (keyword == QLatin1String("expr")) {
      results.append(
          resultObject(keyword, rest, numberOrNonFinite(evaluator.evaluate(rest, host, &state))));
    } else if (keyword == QLatin1String("cond")) {
      results.append(resultObject(keyword, rest, evaluator.evaluateCondition(rest, host, &state)));
    } else if (keyword == QLatin1String("lookup")) {
      host.useLookupTable(true);
      const double value = evaluator.evaluate(rest, host, &state);
      host.useLookupTable(false);
      results.append(resultObject(keyword, rest, numberOrNonFinite(value)));
    } else {
      throw VectorScriptError((QStringLiteral("ERROR: bad vector script line ") +
                               QString::number(index + 1) + QStringLiteral(": ") + line)
                                  .toStdString());
    }
  }
  return results;
}

int dumpExpr(const QString& iniPath, const QString& scriptPath, const QString& outPath) {
  if (const int code = requireInputFile(iniPath)) {
    return code;
  }
  QByteArray scriptBytes;
  if (const int code = readInputFile(scriptPath, scriptBytes)) {
    return code;
  }
  const QString scriptText = QString::fromUtf8(scriptBytes);
  // The definition is read exactly as the project loader reads it (without the project's setting
  // choices, like dump-ini).
  const EcuDefinition definition = IniParser().parse(iniPath);
  const expr::EcuDefinitionView view(definition);
  JsonValue results;
  try {
    results = runVectorScript(scriptText, &view);
  } catch (const VectorScriptError& e) {
    // Kept: a script error is reported as its own line, without the guard's "ERROR: " prefix.
    printError(QString::fromUtf8(e.what()));
    return kFileErrorExit;
  }
  return writeJsonFile(results, outPath);
}

}  // namespace tk::conformance
