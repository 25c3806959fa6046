#pragma once

#include <QJsonArray>
#include <QStringList>

#include "tune/tune_editor.h"

namespace tk::project {

/// Brings the tune the editor holds, as read from a tune file whose "fields" array is
/// fileFields, to its definition's terms: each entry of a constant gets the constant's kind,
/// element count and shape. A number given as text is read as a number; elements missing from
/// an array are padded with the value an all-zero page gives, extra ones dropped; infinities and
/// numbers beyond what the constant's storage holds are clamped to it (the edit limits are not
/// applied: a controller's tune may hold values outside them); of entries sharing a name the
/// first is kept. Returns one warning per field that was changed, naming it. Throws
/// ProjectError naming the field where nothing sensible can be kept (a value missing or of the
/// wrong kind, NaN, an element that is no number). Entries of names the definition does not
/// declare stay as they are; when fileFields is not the array the tune was read from (a legacy
/// tune decoded from its pages, a file replaced in between) nothing is done.
QStringList reconcileTuneWithDefinition(TuneEditor& editor, const QJsonArray& fileFields);

}  // namespace tk::project
