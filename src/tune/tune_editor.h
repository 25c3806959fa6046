#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "definition/ecu_definition.h"
#include "tune/field_index.h"
#include "tune/tune_value.h"

namespace tk {

class AttributeScope;

/// Owns an ECU definition (by value, an independent copy) and a tune, and reads, quantises and
/// stores single values with the page images kept in step. Every operation is neutral (0, empty,
/// nothing done) while no definition or no tune is loaded; none reports an error.
class TuneEditor {
 public:
  /// Called before a store: constant, page number, element index, old value, new value.
  using ValueChangingObserver = std::function<void(const ConstantDef&, int pageNumber, int index,
                                                   double oldValue, double newValue)>;
  /// Called with the bytes of every page range a store changed.
  using PageWriteObserver = std::function<void(const PageWrite&)>;
  /// Called when a flag changes, with its new value.
  using FlagObserver = std::function<void(bool)>;
  /// Called after the tune's values changed, or after values were re-decoded for new units.
  using NotifyObserver = std::function<void()>;

  /// Nothing loaded.
  TuneEditor() = default;
  /// Definition and tune loaded, no observers, nothing modified.
  TuneEditor(EcuDefinition definition, Tune tune);
  /// Not copyable: a copy would carry the observers, and an edit tried on it would reach the
  /// live listeners as a page write. scratchCopy() is the copy without them.
  TuneEditor(const TuneEditor&) = delete;
  /// Not copyable, as above.
  TuneEditor& operator=(const TuneEditor&) = delete;
  /// Moves everything, observers included (the moved editor is the same editor).
  TuneEditor(TuneEditor&&) = default;
  /// Moves everything, observers included.
  TuneEditor& operator=(TuneEditor&&) = default;

  /// An independent editor over copies of the definition, the tune and the cached images, with
  /// no observers, nothing modified and no deferred-edit run: edits on it are tried, not
  /// announced.
  TuneEditor scratchCopy() const;

  // Loading and access.

  /// Replaces definition and tune; the name index is dropped and the page images become stale.
  void load(EcuDefinition definition, Tune tune);
  /// Replaces the definition; the name index is dropped and the page images become stale.
  void setDefinition(EcuDefinition definition);
  /// Replaces the tune; the name index is dropped and the page images become stale.
  void setTune(Tune tune);
  /// Drops definition, tune, cached images and deferred writes; flags and observers stay.
  void unload();
  /// The loaded definition, or nullptr.
  const EcuDefinition* definition() const;
  /// The loaded definition for changes, or nullptr; drops the name index and makes images stale.
  EcuDefinition* mutableDefinition();
  /// The loaded tune, or nullptr.
  const Tune* tune() const;
  /// The loaded tune for changes, or nullptr; drops the name index and makes images stale.
  Tune* mutableTune();

  // Flags.

  /// True after a stored edit until clearModified().
  bool isModified() const { return modified_; }
  /// Sets the modified flag; its observer hears of the false -> true change.
  void markModified();
  /// Clears the modified flag after a save; its observer hears of the true -> false change.
  void clearModified();
  /// True once an edited constant needs a controller power cycle to take effect.
  bool isPowerCycleRequired() const { return powerCycleRequired_; }
  /// Sets the power-cycle flag when name is listed as requiring one (ignoring case).
  void notePowerCycleField(const QString& name);
  /// True while a deferred-edit run is open.
  bool deferredEdits() const { return deferredEdits_; }
  /// True when the cached page images no longer match the tune.
  bool imagesStale() const { return imagesStale_; }

  // Observers (empty functions are allowed and mean "none"). They are called synchronously and
  // must not replace the definition or tune while a store is in progress; a scratch copy has
  // none of them.

  void setValueChangingObserver(ValueChangingObserver observer);
  void setPageWriteObserver(PageWriteObserver observer);
  void setModifiedChangedObserver(FlagObserver observer);
  void setPowerCycleChangedObserver(FlagObserver observer);
  void setTuneChangedObserver(NotifyObserver observer);
  void setUnitsRefreshedObserver(NotifyObserver observer);

  /// Tells the tune-changed observer, then the units-refreshed observer, that the values changed
  /// as a whole (a tune edited on a scratch copy was swapped in).
  void announceTuneReplaced() const {
    if (tuneChanged_) {
      tuneChanged_();
    }
    if (unitsRefreshed_) {
      unitsRefreshed_();
    }
  }
  /// True when a page-write observer is set.
  bool hasPageWriteObserver() const { return static_cast<bool>(pageWrite_); }
  /// Hands write to the page-write observer, when one is set.
  void announcePageWrite(const PageWrite& write) const {
    if (pageWrite_) {
      pageWrite_(write);
    }
  }

  // Reading.

  /// The constant named name, ignoring case; everything after the lookup uses its own spelling.
  std::optional<FieldRef> findField(const QString& name) const;
  /// The stored physical value (Bits: raw value; String: 0); 0 when unknown or out of range.
  double getValue(const QString& name, int index = 0) const;
  /// Scale in force: ScaleExpression evaluated against the tune when present, else Scale.
  double effectiveScale(const ConstantDef& constant) const;
  /// Translate in force: TranslateExpression when present, else Translate.
  double effectiveTranslate(const ConstantDef& constant) const;
  /// Lower limit in force: MinExpression when present, else Min.
  double effectiveMin(const ConstantDef& constant) const;
  /// Upper limit in force: MaxExpression when present, else Max.
  double effectiveMax(const ConstantDef& constant) const;
  /// Display digits in force: DigitsExpression truncated toward zero when present, else Digits.
  int effectiveDigits(const ConstantDef& constant) const;
  /// Units in force: UnitsExpression resolved against the tune when present, else Units.
  QString effectiveUnits(const ConstantDef& constant) const;
  /// The physical value a store of value would keep: clamped to the limits, then quantised
  /// through scale, translate and data type; 0 for NaN and infinities.
  double quantizeValue(const ConstantDef& constant, double value) const;

  // Writing.

  /// Quantises value and stores it as element index of the named constant, then brings page
  /// images, flags and observers up to date (or queues the write during a deferred-edit run).
  void setValue(const QString& name, int index, double value);
  /// The page images of the tune, rebuilt first when stale; empty when nothing is loaded.
  PageImages pageImages();
  /// Opens a deferred-edit run: stores only queue their page writes.
  void beginDeferredEdits();
  /// Closes the run: rebuilds the images once and reports the queued writes coalesced per page.
  void endDeferredEdits();

 private:
  bool loaded() const { return definition_.has_value() && tune_.has_value(); }
  const FieldIndex& fieldIndex(const EcuDefinition& definition) const;
  // The scope attributes are worked out in; nullopt while nothing is loaded.
  std::optional<AttributeScope> attributeScope() const;
  void invalidate();
  void rebuildImages();
  TuneValue& recordFor(Tune& tune, const ConstantDef& constant) const;
  void storeInRecord(Tune& tune, const ConstantDef& constant, int index, double stored);
  void rereadSharedBytes(const FieldRef& field, qint64 offset, int width);
  bool announceStoredBytes(const FieldRef& field, qint64 offset, int width);
  void redecodeExpressionScaledConstants(const PageImages& keptImages);

  std::optional<EcuDefinition> definition_;
  std::optional<Tune> tune_;
  mutable std::optional<FieldIndex> index_;
  PageImages images_;
  // Pages built by rereadSharedBytes while images_ is stale, kept in step with later stores.
  PageImages sharedPages_;
  bool imagesStale_ = true;
  bool deferredEdits_ = false;
  bool modified_ = false;
  bool powerCycleRequired_ = false;
  QList<PageWrite> deferredWrites_;

  ValueChangingObserver valueChanging_;
  PageWriteObserver pageWrite_;
  FlagObserver modifiedChanged_;
  FlagObserver powerCycleChanged_;
  NotifyObserver tuneChanged_;
  NotifyObserver unitsRefreshed_;
};

}  // namespace tk
