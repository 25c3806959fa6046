#include "formats/mlg_model.h"

namespace tk {

int mlgHeaderLength(std::uint16_t formatVersion) { return formatVersion >= 2 ? 24 : 22; }

int mlgDescriptorLength(std::uint16_t formatVersion) { return formatVersion >= 2 ? 89 : 55; }

bool isMlgBitField(std::uint8_t dataType) {
  return dataType >= static_cast<std::uint8_t>(MlgDataType::Bits08) &&
         dataType <= static_cast<std::uint8_t>(MlgDataType::Bits32);
}

int mlgByteSize(std::uint8_t dataType) {
  // Codes 100-107 are an older spelling of the base types.
  const int code = dataType >= 100 && dataType <= 107 ? dataType - 100 : dataType;
  switch (code) {
    case 0:
    case 1:
    case 10:
      return 1;
    case 2:
    case 3:
    case 11:
      return 2;
    case 6:
      return 8;
    default:  // 4, 5, 7, 12, and every code this format does not know
      return 4;
  }
}

int findField(const MlgLog& log, QStringView name) {
  for (std::size_t i = 0; i < log.fields.size(); ++i) {
    if (QStringView(log.fields[i].name).compare(name, Qt::CaseInsensitive) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace tk
