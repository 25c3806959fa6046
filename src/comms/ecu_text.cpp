#include "comms/ecu_text.h"

namespace tk::comms {

QString withoutTrailingLineEnds(const QString& text) {
  qsizetype end = text.size();
  while (end > 0) {
    const char16_t c = text.at(end - 1).unicode();
    if (c != u'\0' && c != u'\r' && c != u'\n') {
      break;
    }
    --end;
  }
  return text.left(end);
}

}  // namespace tk::comms
