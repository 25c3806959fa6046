#include "tune/tune_editor.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "tune/attribute_expression.h"
#include "tune/effective_attributes.h"
#include "tune/field_codec.h"

namespace tk {

namespace {

// Constants whose change switches the units other constants are shown in; their scale and
// translate expressions name them, so the raw bytes must be re-read after such a store.
bool selectsUnits(const ConstantDef& constant) {
  return constant.Name.compare(QLatin1String("useLambdaOnInterface"), Qt::CaseInsensitive) == 0 ||
         constant.Name.compare(QLatin1String("useMetricOnInterface"), Qt::CaseInsensitive) == 0;
}

bool nonEmpty(const std::optional<QString>& text) { return text && !text->isEmpty(); }

int clampToInt(qint64 v) {
  return static_cast<int>(
      std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Byte position of element index in its page; a bit field has one position whatever the index.
qint64 elementOffset(const ConstantDef& constant, int index, int width) {
  return constant.Type == ConstantType::Bits ? qint64{constant.Offset}
                                             : constant.Offset + qint64{index} * width;
}

}  // namespace

TuneEditor::TuneEditor(EcuDefinition definition, Tune tune)
    : definition_(std::move(definition)), tune_(std::move(tune)) {}

TuneEditor TuneEditor::scratchCopy() const {
  TuneEditor scratch;
  scratch.definition_ = definition_;
  scratch.tune_ = tune_;
  scratch.index_ = index_;
  scratch.images_ = images_;
  scratch.imagesStale_ = imagesStale_;
  return scratch;
}

void TuneEditor::load(EcuDefinition definition, Tune tune) {
  definition_ = std::move(definition);
  tune_ = std::move(tune);
  invalidate();
}

void TuneEditor::setDefinition(EcuDefinition definition) {
  definition_ = std::move(definition);
  invalidate();
}

void TuneEditor::setTune(Tune tune) {
  tune_ = std::move(tune);
  invalidate();
}

void TuneEditor::unload() {
  definition_.reset();
  tune_.reset();
  images_.clear();
  deferredWrites_.clear();
  invalidate();
}

const EcuDefinition* TuneEditor::definition() const {
  return definition_ ? &*definition_ : nullptr;
}

EcuDefinition* TuneEditor::mutableDefinition() {
  invalidate();
  return definition_ ? &*definition_ : nullptr;
}

const Tune* TuneEditor::tune() const { return tune_ ? &*tune_ : nullptr; }

Tune* TuneEditor::mutableTune() {
  invalidate();
  if (!tune_) {
    return nullptr;
  }
  tune_->invalidateIndex();
  return &*tune_;
}

void TuneEditor::invalidate() {
  index_.reset();
  imagesStale_ = true;
  sharedPages_.clear();
}

const FieldIndex& TuneEditor::fieldIndex(const EcuDefinition& definition) const {
  if (!index_) {
    index_.emplace(definition);
  }
  return *index_;
}

void TuneEditor::markModified() {
  if (modified_) {
    return;
  }
  modified_ = true;
  if (modifiedChanged_) {
    modifiedChanged_(true);
  }
}

void TuneEditor::clearModified() {
  if (!modified_) {
    return;
  }
  modified_ = false;
  if (modifiedChanged_) {
    modifiedChanged_(false);
  }
}

void TuneEditor::notePowerCycleField(const QString& name) {
  if (!definition_ || powerCycleRequired_ ||
      !definition_->RequiresPowerCycleFields.contains(name, Qt::CaseInsensitive)) {
    return;
  }
  powerCycleRequired_ = true;
  if (powerCycleChanged_) {
    powerCycleChanged_(true);
  }
}

void TuneEditor::setValueChangingObserver(ValueChangingObserver observer) {
  valueChanging_ = std::move(observer);
}
void TuneEditor::setPageWriteObserver(PageWriteObserver observer) {
  pageWrite_ = std::move(observer);
}
void TuneEditor::setModifiedChangedObserver(FlagObserver observer) {
  modifiedChanged_ = std::move(observer);
}
void TuneEditor::setPowerCycleChangedObserver(FlagObserver observer) {
  powerCycleChanged_ = std::move(observer);
}
void TuneEditor::setTuneChangedObserver(NotifyObserver observer) {
  tuneChanged_ = std::move(observer);
}
void TuneEditor::setUnitsRefreshedObserver(NotifyObserver observer) {
  unitsRefreshed_ = std::move(observer);
}

std::optional<FieldRef> TuneEditor::findField(const QString& name) const {
  if (!definition_ || !tune_) {
    return std::nullopt;
  }
  return fieldIndex(*definition_).find(*definition_, name);
}

double TuneEditor::getValue(const QString& name, int index) const {
  const std::optional<FieldRef> field = findField(name);
  return field && tune_ ? storedValue(*tune_, *field->constant, index) : 0.0;
}

double TuneEditor::effectiveScale(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveScale(constant, *scope) : 0.0;
}

double TuneEditor::effectiveTranslate(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveTranslate(constant, *scope) : 0.0;
}

double TuneEditor::effectiveMin(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveMin(constant, *scope) : 0.0;
}

double TuneEditor::effectiveMax(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveMax(constant, *scope) : 0.0;
}

int TuneEditor::effectiveDigits(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveDigits(constant, *scope) : 0;
}

QString TuneEditor::effectiveUnits(const ConstantDef& constant) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::effectiveUnits(constant, *scope) : QString();
}

double TuneEditor::quantizeValue(const ConstantDef& constant, double value) const {
  const std::optional<AttributeScope> scope = attributeScope();
  return scope ? tk::quantizeValue(constant, value, *scope) : 0.0;
}

std::optional<AttributeScope> TuneEditor::attributeScope() const {
  if (!definition_ || !tune_) {
    return std::nullopt;
  }
  return AttributeScope(*definition_, fieldIndex(*definition_), *tune_);
}

void TuneEditor::rebuildImages() {
  if (!definition_ || !tune_) {
    return;
  }
  images_ = encodeTune(*tune_, *definition_, fieldIndex(*definition_));
  imagesStale_ = false;
  sharedPages_.clear();
}

PageImages TuneEditor::pageImages() {
  if (!loaded()) {
    return {};
  }
  if (imagesStale_) {
    rebuildImages();
  }
  return images_;
}

void TuneEditor::setValue(const QString& name, int index, double value) {
  const std::optional<FieldRef> field = findField(name);
  if (!field || !tune_) {
    return;
  }
  Tune& tune = *tune_;
  const ConstantDef& constant = *field->constant;

  // A units switch changes how other constants' bytes read: keep the bytes as they are now.
  std::optional<PageImages> keptImages;
  if (!deferredEdits_ && selectsUnits(constant)) {
    keptImages = pageImages();
  }

  const double stored = quantizeValue(constant, value);
  if (valueChanging_) {
    valueChanging_(constant, field->pageNumber, index, storedValue(tune, constant, index), stored);
  }
  storeInRecord(tune, constant, index, stored);
  const int width = elementSize(constant);
  const qint64 offset = elementOffset(constant, index, width);
  rereadSharedBytes(*field, offset, width);
  imagesStale_ = true;
  if (deferredEdits_) {
    // Only the position matters here; the bytes are taken once the run ends. Nothing else
    // happens for a deferred store (no modified flag, no power-cycle check).
    deferredWrites_.append(PageWrite{field->pageNumber - 1, clampToInt(offset),
                                     QByteArray(std::max(width, 0), '\0'), constant.Name});
    return;
  }

  rebuildImages();
  if (announceStoredBytes(*field, offset, width) && keptImages) {
    redecodeExpressionScaledConstants(*keptImages);
  }
  notePowerCycleField(constant.Name);
}

TuneValue& TuneEditor::recordFor(Tune& tune, const ConstantDef& constant) const {
  if (TuneValue* record = tune.find(constant.Name)) {
    return *record;
  }
  TuneValue fresh;
  fresh.name = constant.Name;
  fresh.units = effectiveUnits(constant);
  fresh.digits = effectiveDigits(constant);
  return tune.upsert(std::move(fresh));
}

void TuneEditor::storeInRecord(Tune& tune, const ConstantDef& constant, int index, double stored) {
  TuneValue& record = recordFor(tune, constant);
  switch (constant.Type) {
    case ConstantType::Bits: {
      const int raw = static_cast<int>(stored);  // already a whole number within the field
      record.bitsRawValue = raw;
      if (const QString* label = constant.bitValueLabel(raw)) {
        record.enumValue = *label;
      }
      break;
    }
    case ConstantType::Array:
      if (!record.arrayValues) {
        record.arrayValues = QList<double>(elementCount(constant), 0.0);
        setShapeDimensions(record, constant);
      }
      if (index >= 0 && index < record.arrayValues->size()) {
        (*record.arrayValues)[index] = stored;
      }
      break;
    case ConstantType::Scalar:
      record.scalarValue = stored;
      break;
    case ConstantType::String:
      break;  // text is not set through a number
  }
}

// Where constants share storage (a bit field inside an array element, two scalars at one offset,
// an array over a run of scalars) the bytes are the truth and the value just stored wins: its
// element is written into the page as it stands, and every other constant over those bytes is
// read back from them. The tune then never holds two readings of one byte, and a page built from
// it is the same whichever constant is encoded last.
void TuneEditor::rereadSharedBytes(const FieldRef& field, qint64 offset, int width) {
  if (!definition_ || !tune_) {
    return;
  }
  const EcuDefinition& definition = *definition_;
  Tune& tune = *tune_;
  const ConstantDef& stored = *field.constant;
  const qint64 end = offset + width;
  QList<const ConstantDef*> sharing;
  for (const PageGroup& group : definition.Pages) {
    if (group.PageNumber != field.pageNumber) {
      continue;
    }
    for (const ConstantDef& other : group.Fields) {
      if (&other != &stored && !other.IsPcVariable && other.Offset < end &&
          offset < other.Offset + storageSize(other)) {
        sharing.append(&other);
      }
    }
  }
  // While the images are stale (a deferred-edit run), a page built here is kept in step with every
  // later store, so that a run of many stores builds it once.
  const auto kept = sharedPages_.constFind(field.pageNumber);
  if (sharing.isEmpty() && (!imagesStale_ || kept == sharedPages_.cend())) {
    return;
  }
  QByteArray page;
  if (!imagesStale_) {
    page = images_.value(field.pageNumber);
  } else if (kept != sharedPages_.cend()) {
    page = *kept;
  } else {
    page = encodePage(tune, definition, fieldIndex(definition), field.pageNumber);
  }
  if (offset < 0 || width < 1 || end > page.size()) {
    return;
  }
  const bool bigEndian = definition.isBigEndian();
  const AttributeScope scope(definition, fieldIndex(definition), tune);
  QByteArray encoded = page;
  encodeConstant(stored, *tune.find(stored.Name), encoded, bigEndian,
                 tk::effectiveScale(stored, scope), tk::effectiveTranslate(stored, scope));
  page.replace(offset, width, encoded.mid(offset, width));
  if (imagesStale_) {
    sharedPages_.insert(field.pageNumber, page);
  }
  for (const ConstantDef* other : std::as_const(sharing)) {
    std::optional<TuneValue> read =
        decodeConstant(*other, page, bigEndian, tk::effectiveScale(*other, scope),
                       tk::effectiveTranslate(*other, scope));
    if (!read) {
      continue;
    }
    if (TuneValue* record = tune.find(other->Name)) {
      // Units and digits stay as the record had them: only the reading of the bytes changes.
      read->units = record->units;
      read->digits = record->digits;
      *record = std::move(*read);
    } else {
      tune.upsert(std::move(*read));
    }
  }
}

// Hands the freshly built bytes of the stored element to the observers; false (and nothing
// announced) when the constant's page has no image.
bool TuneEditor::announceStoredBytes(const FieldRef& field, qint64 offset, int width) {
  const auto image = images_.constFind(field.pageNumber);
  if (image == images_.cend()) {
    return false;
  }
  // Storage outside the page reads as zeros of the element's width.
  QByteArray bytes(std::max(width, 0), '\0');
  if (offset >= 0 && width >= 1 && offset + width <= image->size()) {
    bytes = image->mid(offset, width);
  }
  markModified();
  if (tuneChanged_) {
    tuneChanged_();
  }
  if (pageWrite_) {
    pageWrite_(PageWrite{field.pageNumber - 1, clampToInt(offset), bytes, field.constant->Name});
  }
  return true;
}

void TuneEditor::redecodeExpressionScaledConstants(const PageImages& keptImages) {
  if (!definition_ || !tune_) {
    return;
  }
  const EcuDefinition& definition = *definition_;
  Tune& tune = *tune_;
  const bool bigEndian = definition.isBigEndian();
  // The scope sees every record replaced so far, as a sequential re-read would.
  const AttributeScope scope(definition, fieldIndex(definition), tune);
  for (const PageGroup& group : definition.Pages) {
    const auto image = keptImages.constFind(group.PageNumber);
    if (image == keptImages.cend()) {
      continue;
    }
    for (const ConstantDef& constant : group.Fields) {
      if (constant.IsPcVariable ||
          !(nonEmpty(constant.ScaleExpression) || nonEmpty(constant.TranslateExpression))) {
        continue;
      }
      const double scale = tk::effectiveScale(constant, scope);
      const double translate = tk::effectiveTranslate(constant, scope);
      if (std::optional<TuneValue> value =
              decodeConstant(constant, *image, bigEndian, scale, translate)) {
        tune.upsert(std::move(*value));
      }
    }
  }
  // The cached images were built from the values before this re-read.
  imagesStale_ = true;
  if (unitsRefreshed_) {
    unitsRefreshed_();
  }
}

void TuneEditor::beginDeferredEdits() {
  deferredEdits_ = true;
  deferredWrites_.clear();
}

void TuneEditor::endDeferredEdits() {
  deferredEdits_ = false;
  if (deferredWrites_.isEmpty()) {
    return;
  }
  std::stable_sort(
      deferredWrites_.begin(), deferredWrites_.end(), [](const PageWrite& a, const PageWrite& b) {
        return a.pageIndex != b.pageIndex ? a.pageIndex < b.pageIndex : a.offset < b.offset;
      });
  struct Run {
    int pageIndex;
    qint64 start;
    qint64 end;
    QString label;
  };
  QList<Run> runs;
  for (const PageWrite& write : std::as_const(deferredWrites_)) {
    const qint64 end = qint64{write.offset} + write.bytes.size();
    if (!runs.isEmpty() && runs.last().pageIndex == write.pageIndex &&
        write.offset <= runs.last().end) {
      Run& run = runs.last();
      run.end = std::max(run.end, end);
      run.label += u'+' + write.source;
    } else {
      runs.append(Run{write.pageIndex, write.offset, end, write.source});
    }
  }
  deferredWrites_.clear();
  if (!loaded()) {
    return;
  }
  rebuildImages();
  if (tuneChanged_) {
    tuneChanged_();
  }
  for (const Run& run : std::as_const(runs)) {
    const auto image = images_.constFind(run.pageIndex + 1);
    if (image == images_.cend() || run.start < 0) {
      continue;
    }
    const QByteArray bytes = image->mid(run.start, run.end - run.start);
    if (!bytes.isEmpty() && pageWrite_) {
      pageWrite_(PageWrite{run.pageIndex, static_cast<int>(run.start), bytes, run.label});
    }
  }
}

}  // namespace tk
