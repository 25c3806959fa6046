#pragma once

#include <QByteArray>
#include <QString>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk {

/// The MSQ document of tune over definition, as the bytes of an ISO-8859-1 file: declaration,
/// bibliography (author, tuneComment, writeDate), version info, the PC variables' page when the
/// definition has any, then one page per page group numbered from 1, every element on its own
/// CRLF line. Values are read as getValue reads them (names looked up ignoring case). Never fails.
QByteArray writeMsq(const EcuDefinition& definition, const Tune& tune, const QString& author,
                    const QString& tuneComment, const QString& writeDate);

/// Whether an MSQ file written for definition holds constant of group: every PC variable (in the
/// PC variables' page), and the other constants of the pages numbered from 1.
bool msqHolds(const PageGroup& group, const ConstantDef& constant);
/// The number of elements writeMsq writes for definition: the constants msqHolds says it holds.
long long msqElementCount(const EcuDefinition& definition);

/// Appends text as an attribute value: TAB, LF, CR, the double quote, ampersand, less-than and
/// greater-than as references; characters from 256 up as "&#xHEX;" (pairs combined); the rest as
/// single bytes.
void appendMsqAttributeText(QByteArray& out, QStringView text);
/// Appends text as element content: only the ampersand, less-than and greater-than escaped;
/// characters from 256 up as "&#xHEX;".
void appendMsqContentText(QByteArray& out, QStringView text);

}  // namespace tk
