#include "definition/ecu_definition.h"

#include "json/ascii_text.h"

namespace tk {

bool SettingGroup::hasOption(const QString& name) const {
  for (const SettingOption& option : Options) {
    if (option.Name == name) {
      return true;
    }
  }
  return false;
}

bool DatalogEntry::isBooleanFormat() const {
  for (const char* word : {"yesNo", "onOff", "highLow", "activeInactive"}) {
    if (Format.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) {
      return true;
    }
  }
  return false;
}

bool DatalogEntry::isHexFormat() const {
  return Format.compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0;
}

const PageGroup* EcuDefinition::findPage(int pageNumber) const {
  for (const PageGroup& page : Pages) {
    if (page.PageNumber == pageNumber) {
      return &page;
    }
  }
  return nullptr;
}

PageGroup* EcuDefinition::findPage(int pageNumber) {
  for (PageGroup& page : Pages) {
    if (page.PageNumber == pageNumber) {
      return &page;
    }
  }
  return nullptr;
}

int EcuDefinition::pageSize(int pageNumber) const {
  return pageNumber >= 1 && pageNumber <= PageSizes.size() ? PageSizes.at(pageNumber - 1) : 0;
}

void EcuDefinition::refuse(const QString& line, const QString& reason) {
  // A refused line may be long (a list of page sizes); its start names it well enough.
  constexpr qsizetype kShownCharacters = 80;
  const QString shown =
      line.size() > kShownCharacters ? line.left(kShownCharacters) + QStringLiteral("...") : line;
  const QString message = QStringLiteral("definition line \"%1\" left out: %2").arg(shown, reason);
  // The preprocessor reads includes in more than one pass.
  if (!Refused.contains(message)) {
    Refused.append(message);
  }
}

bool EcuDefinition::isBigEndian() const {
  return Endianness.compare(QLatin1String("big"), Qt::CaseInsensitive) == 0;
}

const ConstantDef* EcuDefinition::findConstant(const QString& name) const {
  for (const PageGroup& page : Pages) {
    for (const ConstantDef& constant : page.Fields) {
      if (constant.Name == name) {
        return &constant;
      }
    }
  }
  return nullptr;
}

int EcuDefinition::pageOfConstant(const QString& name) const {
  for (const PageGroup& page : Pages) {
    for (const ConstantDef& constant : page.Fields) {
      if (constant.Name == name) {
        return page.PageNumber;
      }
    }
  }
  return -1;
}

const QString& EcuDefinition::versionInfoCommand() const {
  return VersionInfo.isEmpty() ? MegaTuneVersionInfo : VersionInfo;
}

const QString* EcuDefinition::findCommand(const QString& name) const {
  if (const auto found = Commands.constFind(name); found != Commands.cend()) {
    return &found.value();
  }
  const auto other = OtherCommands.constFind(name);
  return other != OtherCommands.cend() ? &other.value() : nullptr;
}

QMap<QString, QString> EcuDefinition::agentCommands() const {
  QMap<QString, QString> all = OtherCommands;
  all.insert(Commands);
  return all;
}

QByteArray ochCommandBytes(const EcuDefinition& definition) {
  const QString& text = definition.OchGetCommand;
  if (text.isEmpty()) {
    return QByteArray();
  }
  if (text.startsWith(QLatin1String("\\x"))) {
    const QString digits = text.mid(2).trimmed();
    int value = 0;
    bool ok = !digits.isEmpty();
    for (QChar c : digits) {
      const int d = hexDigitValue(c);
      if (d < 0 || value >= 16) {  // a third significant digit would reach 256
        ok = false;
        break;
      }
      value = value * 16 + d;
    }
    if (ok && value < 256) {
      return QByteArray(1, static_cast<char>(value));
    }
  }
  return asciiBytes(text);
}

}  // namespace tk
