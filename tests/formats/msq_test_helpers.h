#pragma once

#include <QList>
#include <QString>
#include <initializer_list>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk::test {

/// A constant with the attributes MSQ files and tune comparison use.
inline ConstantDef msqConstant(const char* name, ConstantType type, const char* dataType,
                               int digits = 0, const char* units = "", QList<int> shape = {}) {
  ConstantDef c;
  c.Name = QString::fromUtf8(name);
  c.Type = type;
  c.DataType = QString::fromLatin1(dataType);
  c.Digits = digits;
  c.Units = QString::fromUtf8(units);
  c.Shape = std::move(shape);
  return c;
}

/// A page group holding the given constants.
inline PageGroup pageGroup(int number, std::initializer_list<ConstantDef> constants) {
  PageGroup g;
  g.PageNumber = number;
  g.Fields = QList<ConstantDef>(constants);
  return g;
}

/// A tune value record of the given name.
inline TuneValue tuneValue(const char* name) {
  TuneValue v;
  v.name = QString::fromUtf8(name);
  return v;
}

}  // namespace tk::test
