#include "cli/diff_commands.h"

#include <algorithm>

#include "cli/command_support.h"
#include "cli/ecu_link.h"
#include "cli/project_loader.h"
#include "formats/msq_overlay.h"
#include "formats/msq_reader.h"
#include "tune/field_codec.h"
#include "tune/tune_diff.h"
#include "tune/tune_reexpress.h"

namespace tk::cli {
namespace {

constexpr int kDefaultListed = 200;

// The ECU's tune, read as sync reads it: refused when the ECU runs another definition.
Tune ecuTune(CommandContext& context, const EcuDefinition& definition) {
  EcuLink& link = context.openLink();
  const SignatureCheck check = checkSignature(link);
  if (!check.match) {
    throw CommandError(signatureMismatchMessage(check, definition));
  }
  requireConnected(link);
  comms::TuneRead read = link.tuneComms()->readTune(definition);
  if (read.failed()) {
    throw CommandError(read.error);
  }
  return std::move(read.tune);
}

// A tune made for another definition is still compared, name by name, but not silently: the
// same names may mean other things there.
void warnOtherSignature(CommandContext& context, const QString& signature,
                        const EcuDefinition& definition) {
  if (signature.trimmed() != definition.Signature.trimmed()) {
    context.warn(QStringLiteral("the other tune is for '%1', the project is for '%2'; values are "
                                "compared by name")
                     .arg(signature.trimmed(), definition.Signature.trimmed()));
  }
}

// Another project's tune in this project's units: when both run the same definition its bytes
// are read with this one's choices, so that a Celsius project compares with a Fahrenheit one.
Tune otherProjectTune(CommandContext& context, const QString& path,
                      const EcuDefinition& definition) {
  project::ProjectManager other;
  other.openProject(path);
  const Tune& tune = *other.tune();
  if (other.definition()->Signature.trimmed() != definition.Signature.trimmed()) {
    warnOtherSignature(context, other.definition()->Signature, definition);
    return tune;
  }
  return reexpressTune(tune, encodeTune(tune, *other.definition()), definition);
}

JsonValue sideValue(const DiffSide& side) {
  // A bit field's side carries its label: its number is the raw value, a whole number.
  if (side.number && side.text) {
    return JsonValue(static_cast<long long>(*side.number));
  }
  if (side.number) {
    return JsonValue(*side.number);
  }
  return side.text ? JsonValue(*side.text) : JsonValue();
}

JsonValue differenceJson(const TuneDifference& d) {
  JsonValue item = JsonValue::object();
  item.insert(QStringLiteral("constant"), d.constant);
  if (d.index) {
    item.insert(QStringLiteral("index"), *d.index);
  }
  if (!d.place.kind.isEmpty()) {
    item.insert(d.place.kind, d.place.id);
    if (!d.place.axis.isEmpty()) {
      item.insert(QStringLiteral("axis"), d.place.axis);
    }
    if (d.place.row && d.place.col) {
      item.insert(QStringLiteral("row"), *d.place.row);
      item.insert(QStringLiteral("col"), *d.place.col);
    } else if (d.place.point && d.index) {
      item.insert(QStringLiteral("point"), *d.place.point);
    }
  }
  item.insert(QStringLiteral("localValue"), sideValue(d.local));
  item.insert(QStringLiteral("otherValue"), sideValue(d.other));
  if (d.local.number && d.local.text) {
    item.insert(QStringLiteral("localLabel"), *d.local.text);
  }
  if (d.other.number && d.other.text) {
    item.insert(QStringLiteral("otherLabel"), *d.other.text);
  }
  item.insert(QStringLiteral("units"), d.units);
  return item;
}

}  // namespace

JsonValue diff(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& local = requireTune(manager);
  const CommandOptions& options = context.options();
  const QString msq = QStringLiteral("msq");
  const QString otherProject = QStringLiteral("other-project");
  const int sources = int{options.has(QStringLiteral("ecu"))} + int{options.has(msq)} +
                      int{options.has(otherProject)};
  if (sources != 1) {
    throw CommandError(
        QStringLiteral("Give exactly one of --ecu, --msq FILE or --project OTHER.tkproj"));
  }
  const int maxListed = std::max(0, options.intOrZero(QStringLiteral("max"), kDefaultListed));

  QString otherName;
  Tune other;
  if (options.has(msq)) {
    otherName = absoluteNativePath(options.value(msq));
    const MsqDocument document = readMsq(otherName);
    warnOtherSignature(context, document.Signature, definition);
    other = overlayMsq(local, document, definition);
  } else if (options.has(otherProject)) {
    otherName = absoluteNativePath(options.value(otherProject));
    other = otherProjectTune(context, otherName, definition);
  } else {
    otherName = QStringLiteral("ecu");
    other = ecuTune(context, definition);
  }

  const TuneDiff result = diffTunes(definition, local, other, maxListed);
  const bool text = options.value(QStringLiteral("format")) == QLatin1String("text");
  JsonValue diffs = JsonValue::array();
  for (const TuneDifference& difference : result.listed) {
    diffs.append(text ? JsonValue(differenceLine(difference, otherName))
                      : differenceJson(difference));
  }
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("other"), otherName);
  data.insert(QStringLiteral("differences"), static_cast<long long>(result.count));
  data.insert(QStringLiteral("diffs"), std::move(diffs));
  data.insert(QStringLiteral("truncated"), result.count > result.listed.size());
  return data;
}

}  // namespace tk::cli
