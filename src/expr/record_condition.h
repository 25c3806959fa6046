#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <span>

namespace tk::expr {

/// A condition over the values of one log record.
using RecordCondition = std::function<bool(std::span<const double> values)>;

/// The condition text evaluated over records of the given columns: a name in the text reads the
/// column labelled labelOf(name), else the column called name (both ignoring case); any other
/// name reads 0. Evaluation never fails: a malformed text is false.
RecordCondition recordCondition(const QString& text, const QStringList& columns,
                                const std::function<QString(const QString&)>& labelOf);

}  // namespace tk::expr
