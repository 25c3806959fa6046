#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tk {

/// The first of names that name was probably meant to be: one equal to it ignoring case, else one
/// a single insertion, deletion or substitution away from it (ignoring case); nothing when none
/// is, or when name is empty.
std::optional<QString> similarName(const QString& name, const QStringList& names);

}  // namespace tk
