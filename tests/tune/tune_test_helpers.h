#pragma once

#include <QByteArray>
#include <QString>

#include "definition/ini_parser.h"
#include "support/test_support.h"
#include "tune/tune_editor.h"

namespace tk::test {

/// The synthetic definition tests/data/tune/<name>.
inline EcuDefinition tuneDefinition(const char* name) {
  return IniParser().parseBytes(readFile(dataPath(QStringLiteral("tune/") + QLatin1String(name))),
                                QString());
}

/// Bytes from hex text; spaces are skipped ("61 62 00").
inline QByteArray fromHex(const char* hex) { return QByteArray::fromHex(QByteArray(hex)); }

/// Hex text of bytes, space separated ("61 62 00"), for readable failures.
inline QString hexOf(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

/// Records every observer call of editor into events as one line of text, in order; "changing"
/// lines also name the page, the index and both values when detailed.
inline void recordEditorEvents(TuneEditor& editor, QStringList& events, bool detailed) {
  editor.setValueChangingObserver(
      [&events, detailed](const ConstantDef& c, int page, int index, double was, double now) {
        events.append(detailed ? QStringLiteral("changing %1 p%2 i%3 %4 -> %5")
                                     .arg(c.Name, QString::number(page), QString::number(index),
                                          QString::number(was), QString::number(now))
                               : QStringLiteral("changing ") + c.Name);
      });
  editor.setPageWriteObserver([&events](const PageWrite& w) {
    events.append(QStringLiteral("write %1@%2 [%3] %4")
                      .arg(QString::number(w.pageIndex), QString::number(w.offset), hexOf(w.bytes),
                           w.source));
  });
  editor.setModifiedChangedObserver(
      [&events](bool on) { events.append(QStringLiteral("modified %1").arg(on)); });
  editor.setPowerCycleChangedObserver(
      [&events](bool on) { events.append(QStringLiteral("power cycle %1").arg(on)); });
  editor.setTuneChangedObserver([&events] { events.append(QStringLiteral("tune changed")); });
  editor.setUnitsRefreshedObserver([&events] { events.append(QStringLiteral("units refreshed")); });
}

}  // namespace tk::test
