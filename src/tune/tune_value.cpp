#include "tune/tune_value.h"

#include <utility>

namespace tk {

void Tune::rebuildIndex() const {
  index_.clear();
  index_.reserve(fields.size());
  for (qsizetype i = 0; i < fields.size(); ++i) {
    if (!index_.contains(fields.at(i).name)) {
      index_.insert(fields.at(i).name, i);  // the first record of a name wins
    }
  }
  indexedCount_ = fields.size();
}

qsizetype Tune::indexOf(const QString& name) const {
  if (indexedCount_ != fields.size()) {
    rebuildIndex();
  }
  auto it = index_.constFind(name);
  if (it != index_.cend() && *it < fields.size() && fields.at(*it).name == name) {
    return *it;
  }
  if (it != index_.cend()) {
    // The list was changed behind the index (same length, other names): look again afresh.
    rebuildIndex();
    it = index_.constFind(name);
    return it == index_.cend() ? -1 : *it;
  }
  return -1;
}

const TuneValue* Tune::find(const QString& name) const {
  const qsizetype i = indexOf(name);
  return i < 0 ? nullptr : &fields.at(i);
}

TuneValue* Tune::find(const QString& name) {
  const qsizetype i = indexOf(name);
  return i < 0 ? nullptr : &fields[i];
}

TuneValue& Tune::upsert(TuneValue value) {
  const qsizetype i = indexOf(value.name);
  if (i >= 0) {
    fields[i] = std::move(value);
    return fields[i];
  }
  // indexOf left the index current, so the new record can be added to it directly.
  index_.insert(value.name, fields.size());
  fields.append(std::move(value));
  indexedCount_ = fields.size();
  return fields.last();
}

void Tune::invalidateIndex() const {
  index_.clear();
  indexedCount_ = -1;
}

bool Tune::operator==(const Tune& other) const {
  return fields == other.fields && signature == other.signature &&
         firmwareInfo == other.firmwareInfo && nPages == other.nPages &&
         lastSaved == other.lastSaved && writeTimestamp == other.writeTimestamp &&
         pages == other.pages;
}

}  // namespace tk
