#include "tune/tune_reexpress.h"

#include "tune/field_codec.h"

namespace tk {

Tune reexpressTune(const Tune& tune, const PageImages& images, const EcuDefinition& definition) {
  const Tune decoded = decodePages(images, definition);
  Tune result = tune;
  for (const TuneValue& value : decoded.fields) {
    result.upsert(value);
  }
  return result;
}

}  // namespace tk
