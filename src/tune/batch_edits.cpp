#include "tune/batch_edits.h"

#include <QSet>
#include <cmath>
#include <utility>

#include "tune/field_codec.h"

namespace tk {
namespace {

// Largest element count a constant's shape may describe before it is refused as hostile.
constexpr qint64 kMaxShapeProduct = 1000000;
// Below this a scale turns every value into the same raw number.
constexpr double kMinScaleMagnitude = 1e-12;

QString message(const char* text) { return QString::fromLatin1(text); }

// Names given to read-only table parts: every bin of a password-protected table, else the axes
// marked readOnly. Names are compared exactly, as the caller spelled them.
bool isReadOnlyTableField(const EcuDefinition& definition, const QString& name) {
  for (const auto& [id, table] : definition.Tables) {
    if (!table.UserPassword.isEmpty()) {
      if (name == table.ZBinVariable || name == table.XBinVariable || name == table.YBinVariable) {
        return true;
      }
    } else if ((table.XBinReadOnly && name == table.XBinVariable) ||
               (table.YBinReadOnly && name == table.YBinVariable)) {
      return true;
    }
  }
  return false;
}

bool isReadOnlyCurveAxis(const EcuDefinition& definition, const QString& name) {
  for (const auto& [id, curve] : definition.Curves) {
    if (curve.XBinReadOnly && name == curve.XBinVariable) {
      return true;
    }
  }
  return false;
}

// The element count of the shape, or nothing when a dimension is below 1 or the product would
// pass kMaxShapeProduct (tested before each multiplication, so it cannot overflow).
std::optional<qint64> shapeProduct(const ConstantDef& constant) {
  qint64 product = 1;
  for (const int dimension : constant.Shape) {
    if (dimension < 1 || product > kMaxShapeProduct / dimension) {
      return std::nullopt;
    }
    product *= dimension;
  }
  return product;
}

// The bounds test uses the requested value before quantising. An expression counts as present
// even when empty (its value is then the default 0), unlike the clamp of a single store.
bool outsideBounds(const TuneEditor& scratch, const ConstantDef& constant, double value) {
  if ((constant.HasMin || constant.MinExpression.has_value()) &&
      value < scratch.effectiveMin(constant)) {
    return true;
  }
  return (constant.HasMax || constant.MaxExpression.has_value()) &&
         value > scratch.effectiveMax(constant);
}

bool storageOutsidePage(const ConstantDef& constant, int pageNumber, int index,
                        const PageImages& before) {
  const int width = elementSize(constant);
  const qint64 offset = constant.Type == ConstantType::Bits
                            ? qint64{constant.Offset}
                            : constant.Offset + qint64{index} * width;
  const auto image = before.constFind(pageNumber);
  return offset < 0 || width < 1 || image == before.cend() || offset > image->size() - width;
}

// Every check of one edit against the scratch copy as the earlier edits left it; the first
// failure's message, or an empty text.
QString checkEdit(const TuneEditor& live, const TuneEditor& scratch, const BatchEdit& edit,
                  const PageImages& before, QSet<QString>& seenKeys) {
  const EcuDefinition& definition = *scratch.definition();
  const std::optional<FieldRef> field = scratch.findField(edit.name);
  if (!field || field->constant->IsPcVariable || field->constant->Type == ConstantType::String) {
    return message("Unknown or read-only field");
  }
  if (isReadOnlyTableField(definition, edit.name)) {
    return message("Read-only table field");
  }
  if (isReadOnlyCurveAxis(definition, edit.name)) {
    return message("Read-only curve axis");
  }
  const ConstantDef& constant = *field->constant;
  const std::optional<qint64> count = shapeProduct(constant);
  if (!count) {
    return message("Invalid dimensions");
  }
  if (edit.index < 0 || edit.index >= *count ||
      (constant.Type != ConstantType::Array && edit.index != 0)) {
    return message("Invalid element");
  }
  // The key keeps the caller's spelling: "veTable:3" and "VETABLE:3" are different keys.
  const QString key = edit.name + u':' + QString::number(edit.index);
  if (seenKeys.contains(key)) {
    return message("Duplicate element");
  }
  seenKeys.insert(key);
  if (!std::isfinite(edit.value) || !std::isfinite(edit.expectedValue)) {
    return message("Non-finite value");
  }
  // Exact: a caller working from a stale or rounded read is refused.
  if (scratch.getValue(edit.name, edit.index) != edit.expectedValue) {
    // A store re-reads every constant over the bytes it wrote, so an earlier edit of this batch
    // over the same bytes shows here first: the caller's value was right, the batch is not.
    return message(live.getValue(edit.name, edit.index) == edit.expectedValue
                       ? "Batch changes scaling or overlapping storage; split and refresh"
                       : "Expected value conflict");
  }
  const double scale = scratch.effectiveScale(constant);
  const double translate = scratch.effectiveTranslate(constant);
  if (!std::isfinite(scale) || std::abs(scale) < kMinScaleMagnitude || !std::isfinite(translate)) {
    return message("Invalid scaling");
  }
  if (outsideBounds(scratch, constant, edit.value)) {
    return message("Outside field bounds");
  }
  if (storageOutsidePage(constant, field->pageNumber, edit.index, before)) {
    return message("Storage outside page");
  }
  return {};
}

// Reads the scratch tune back from its own page images, so that what the verification sees is
// what storage keeps.
void roundTrip(TuneEditor& scratch) {
  const PageImages images = scratch.pageImages();
  const Tune decoded = decodePages(images, *scratch.definition());
  Tune& tune = *scratch.mutableTune();
  for (const TuneValue& value : decoded.fields) {
    tune.upsert(value);
  }
}

// One page write per maximal run of bytes that differ from before; a byte past the end of the
// old image counts as changed.
void announceChangedRuns(const TuneEditor& editor, const PageImages& after,
                         const PageImages& before) {
  for (auto page = after.cbegin(); page != after.cend(); ++page) {
    const QByteArray& bytes = page.value();
    const QByteArray old = before.value(page.key());
    const auto changed = [&](qsizetype i) { return i >= old.size() || bytes.at(i) != old.at(i); };
    qsizetype i = 0;
    while (i < bytes.size()) {
      if (!changed(i)) {
        ++i;
        continue;
      }
      const qsizetype start = i;
      while (i < bytes.size() && changed(i)) {
        ++i;
      }
      editor.announcePageWrite(PageWrite{page.key() - 1, static_cast<int>(start),
                                         bytes.mid(start, i - start),
                                         QString::fromLatin1(kBatchEditLabel)});
    }
  }
}

}  // namespace

QString applyBatchEdits(TuneEditor& editor, const QList<BatchEdit>& edits, bool commit,
                        QList<AppliedEdit>* applied) {
  if (editor.definition() == nullptr || editor.tune() == nullptr || editor.deferredEdits()) {
    return message("Project unavailable or edit in progress");
  }
  if (edits.isEmpty() || edits.size() > kMaxBatchEdits) {
    return message("Expected 1..64 edits");
  }
  TuneEditor scratch = editor.scratchCopy();
  const PageImages before = editor.pageImages();

  QSet<QString> seenKeys;
  for (const BatchEdit& edit : edits) {
    if (QString failure = checkEdit(editor, scratch, edit, before, seenKeys); !failure.isEmpty()) {
      return failure;
    }
    scratch.setValue(edit.name, edit.index, edit.value);
  }
  roundTrip(scratch);

  // A value that did not survive storage means its scale depends on another edit of this batch,
  // or its bytes are shared with another edited constant.
  QList<AppliedEdit> confirmed;
  for (const BatchEdit& edit : edits) {
    // Every name was found by checkEdit.
    const std::optional<FieldRef> field = scratch.findField(edit.name);
    const double stored = scratch.getValue(edit.name, edit.index);
    if (!field || !std::isfinite(stored) ||
        stored != scratch.quantizeValue(*field->constant, edit.value)) {
      return message("Batch changes scaling or overlapping storage; split and refresh");
    }
    confirmed.append(AppliedEdit{edit.name, edit.index, edit.expectedValue, stored});
  }
  if (applied != nullptr) {
    *applied = std::move(confirmed);
  }
  if (!commit) {
    return {};
  }

  editor.setTune(*scratch.tune());
  for (const BatchEdit& edit : edits) {
    editor.notePowerCycleField(edit.name);
  }
  editor.markModified();
  editor.announceTuneReplaced();
  if (editor.hasPageWriteObserver()) {
    announceChangedRuns(editor, scratch.pageImages(), before);
  }
  return {};
}

}  // namespace tk
