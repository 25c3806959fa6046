#include "sim/sim_fuelling.h"

#include "tune/field_codec.h"
#include "tune/fuel_analysis_setup.h"
#include "tune/tune_editor.h"

namespace tk::sim {
namespace {

// The grid of the first of the tables that the definition has and the tune fills.
std::optional<AnalysisGrid> firstGrid(const TuneEditor& editor, const QStringList& ids) {
  for (const QString& id : ids) {
    if (id.isEmpty() || editor.definition()->Tables.find(id) == nullptr) {
      continue;
    }
    try {
      return tableAnalysisGrid(editor, id);
    } catch (const AnalysisError&) {
      continue;  // a table whose constants are missing or misshapen fuels nothing
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<SimFuelling> fuellingOfPages(const EcuDefinition& definition,
                                           const std::vector<QByteArray>& pages) {
  PageImages images;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    images.insert(static_cast<int>(i) + 1, pages[i]);
  }
  const TuneEditor editor(definition, decodePages(images, definition));
  const VeAnalyzeDef& analysis = definition.VeAnalyze;
  std::optional<AnalysisGrid> ve = firstGrid(
      editor, {analysis.VeTableName, QStringLiteral("veTable1Tbl"), QStringLiteral("veTable")});
  if (!ve) {
    return std::nullopt;
  }
  SimFuelling fuelling;
  fuelling.ve = std::move(*ve);
  fuelling.target =
      firstGrid(editor, {analysis.LambdaTargetTableName, QStringLiteral("afrTable1Tbl")})
          .value_or(AnalysisGrid{});
  fuelling.closedLoop = editor.findField(QStringLiteral("egoType")).has_value() &&
                        editor.getValue(QStringLiteral("egoType")) != 0.0;
  return fuelling;
}

}  // namespace tk::sim
