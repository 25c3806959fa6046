#include "definition/constant_def.h"

#include <algorithm>
#include <cstdint>

namespace tk {

const QString* ConstantDef::bitValueLabel(int value) const {
  for (const BitValue& bv : BitValues) {
    if (bv.first == value) {
      return &bv.second;
    }
  }
  return nullptr;
}

std::optional<int> ConstantDef::bitValueOf(const QString& label) const {
  for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
    for (const BitValue& option : BitValues) {
      if (option.second.compare(label, cs) == 0) {
        return option.first;
      }
    }
  }
  return std::nullopt;
}

int elementSize(const QString& dataType) {
  if (dataType.size() < 2) {
    return 1;
  }
  if (dataType.endsWith(QLatin1String("16"))) {
    return 2;
  }
  if (dataType.endsWith(QLatin1String("32"))) {
    return 4;
  }
  if (dataType.endsWith(QLatin1String("64"))) {
    return 8;
  }
  return 1;
}

namespace {

/// a x b, saturated to the 64-bit range.
long long saturatedProduct(long long a, long long b) {
  long long product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
  }
  return product;
}

}  // namespace

int fieldSize(const ConstantDef& constant) {
  const long long element = elementSize(constant.DataType);
  long long size = element;
  switch (constant.Type) {
    case ConstantType::Array: {
      long long count = 1;
      if (constant.Shape.size() == 2) {
        count = saturatedProduct(constant.Shape.at(0), constant.Shape.at(1));
      } else if (constant.Shape.size() == 1) {
        count = constant.Shape.at(0);
      }
      size = saturatedProduct(saturatedProduct(element, count), constant.IsOddArray ? 2 : 1);
      break;
    }
    case ConstantType::String:
      size = constant.Shape.isEmpty() ? element : constant.Shape.at(0);
      break;
    case ConstantType::Scalar:
    case ConstantType::Bits:
      break;
  }
  // Hostile shapes can pass 32 bits; the size saturates instead of wrapping.
  return static_cast<int>(std::clamp<long long>(size, INT32_MIN, INT32_MAX));
}

QString constantTypeText(ConstantType type) {
  switch (type) {
    case ConstantType::Scalar:
      return QStringLiteral("Scalar");
    case ConstantType::Bits:
      return QStringLiteral("Bits");
    case ConstantType::Array:
      return QStringLiteral("Array");
    case ConstantType::String:
      return QStringLiteral("String");
  }
  return QString();
}

QString pcVariableTypeText(PcVariableType type) {
  switch (type) {
    case PcVariableType::Normal:
      return QStringLiteral("Normal");
    case PcVariableType::ChannelValueOnConnect:
      return QStringLiteral("ChannelValueOnConnect");
    case PcVariableType::ContinuousChannelValue:
      return QStringLiteral("ContinuousChannelValue");
  }
  return QString();
}

QString extensionTypeText(ExtensionType type) {
  switch (type) {
    case ExtensionType::RequiresPowerCycle:
      return QStringLiteral("RequiresPowerCycle");
    case ExtensionType::DefaultValue:
      return QStringLiteral("DefaultValue");
    case ExtensionType::RawValue:
      return QStringLiteral("RawValue");
    case ExtensionType::ControllerPriority:
      return QStringLiteral("ControllerPriority");
    case ExtensionType::ReadOnly:
      return QStringLiteral("ReadOnly");
    case ExtensionType::ReverseIndex:
      return QStringLiteral("ReverseIndex");
    case ExtensionType::OppositeEndian:
      return QStringLiteral("OppositeEndian");
    case ExtensionType::UseMappingTable:
      return QStringLiteral("UseMappingTable");
    case ExtensionType::MaintainConstantValue:
      return QStringLiteral("MaintainConstantValue");
    case ExtensionType::MaximumElements:
      return QStringLiteral("MaximumElements");
    case ExtensionType::NoMsqSave:
      return QStringLiteral("NoMsqSave");
    case ExtensionType::DisplayInHex:
      return QStringLiteral("DisplayInHex");
  }
  return QString();
}

}  // namespace tk
