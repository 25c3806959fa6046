#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "json/json_value.h"

namespace tk::comms {
struct EcuResponse;
class ScriptedEcuConnection;
}  // namespace tk::comms

namespace tk::conformance {

/// Bytes as upper-case hexadecimal pairs separated by blanks ("00 01 51"); empty for none.
QString traceHex(const QByteArray& bytes);
/// An exchange result as {ok, status, data (hex), error}.
JsonValue responseJson(const comms::EcuResponse& response);
/// Every write of the connection, one hex string each.
JsonValue writesJson(const comms::ScriptedEcuConnection& connection);

/// The named trace vectors of the framed command service against scripted ECUs, as
/// {"vectors": [...]}.
JsonValue ecuCommandVectors();
/// Writes ecuCommandVectors() to outPath; returns the exit code.
int dumpEcuCmd(const QString& outPath);

}  // namespace tk::conformance
