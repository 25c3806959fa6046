#pragma once

#include <QByteArray>
#include <optional>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk {

class FieldIndex;

/// Largest element count an array constant is given (a guard against hostile shapes; real
/// definitions stay far below it).
inline constexpr qint64 kMaxElementCount = 1000000;
/// Largest page the codec builds an image for; larger declared sizes are treated as absent.
inline constexpr int kMaxPageSize = 16 * 1024 * 1024;

/// Bytes one element of constant occupies in its page: a String with a shape has its first
/// dimension; otherwise by DataType: contains "8" -> 1, "16" -> 2, "32" -> 4, "64" -> 8, else 1.
/// (Offsets in the reader use the different last-characters rule of fieldSize.)
int elementSize(const ConstantDef& constant);
/// Product of the shape dimensions (1 for an empty shape, 0 when one is below 1), at most
/// kMaxElementCount.
int elementCount(const ConstantDef& constant);
/// Sets cols (first dimension) and rows (second, or 1 for a one-dimensional shape) of value;
/// both are cleared for an empty shape.
void setShapeDimensions(TuneValue& value, const ConstantDef& constant);

/// Decodes constant from page with the given scale and translate; no record when Offset is not
/// inside the page. Units and digits are the constant's plain ones.
std::optional<TuneValue> decodeConstant(const ConstantDef& constant, const QByteArray& page,
                                        bool bigEndian, double scale, double translate);
/// Encodes value of constant into page with the given scale and translate; storage outside the
/// page and values the record does not hold are skipped.
void encodeConstant(const ConstantDef& constant, const TuneValue& value, QByteArray& page,
                    bool bigEndian, double scale, double translate);

/// Zero-filled images for pages 1..NPages with a size of at least 1, then every constant (PC
/// variables excepted) encoded in definition order with its expression-valued scale and
/// translate evaluated against tune.
PageImages encodeTune(const Tune& tune, const EcuDefinition& definition);
/// As above, with a name index already built from definition (or a copy of it).
PageImages encodeTune(const Tune& tune, const EcuDefinition& definition, const FieldIndex& index);
/// The image of page number alone, built as encodeTune builds it; empty when the page has none.
QByteArray encodePage(const Tune& tune, const EcuDefinition& definition, const FieldIndex& index,
                      int number);
/// Bytes a constant's storage spans from its Offset: every element of an array, a string's
/// length (20 without a shape), one element otherwise.
qint64 storageSize(const ConstantDef& constant);
/// Decodes every constant of the pages present in images (plain scale first, then again with
/// evaluated expressions where they change the pair); the tune carries the definition's
/// signature and page count and empty timestamps.
Tune decodePages(const PageImages& images, const EcuDefinition& definition);

/// Appends, for every constant of every page group (in definition order) that has no record of
/// its exact name yet, the record an all-zero page decodes to with the plain attributes: Scalar
/// Translate x Scale, Array element-count copies of it, Bits raw 0 with the label of option 0,
/// String empty.
void completeTune(Tune& tune, const EcuDefinition& definition);
/// A tune for definition (its signature and page count, empty timestamps), completed.
Tune newTune(const EcuDefinition& definition);

}  // namespace tk
