#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace tk {

/// The characters of an MSQ file. A UTF-8 byte-order mark selects UTF-8, FF FE and FE FF select
/// UTF-16 little- and big-endian (whatever the declaration says); otherwise the encoding named
/// in an XML declaration within the first 256 bytes: UTF-8 for "utf-8", "ascii", "us-ascii",
/// ISO-8859-1 for "iso-8859-1", "iso8859-1", "latin-1", "latin1" (ignoring case), UTF-8 when
/// none is named. Throws MsqError "MSQ: unsupported XML encoding '<name>'" for any other name.
/// Invalid sequences decode to U+FFFD.
QString decodeMsqBytes(const QByteArray& bytes);

/// The text with CR, LF and TAB inside double-quoted attribute values of tags written as the
/// references "&#xD;", "&#xA;" and "&#x9;", so that attribute normalisation keeps them. Comments,
/// CDATA sections, processing instructions and declarations are copied unchanged.
QString protectAttributeWhitespace(const QString& xml);

/// Characters the text stands for once every reference to an internal entity declared in it
/// ("<!ENTITY name 'value'>") is expanded, nested references included; the text's own length
/// when it declares none. Counting stops at kExpansionCountLimit.
qint64 expandedEntityLength(QStringView xml);
/// Where expandedEntityLength stops counting.
inline constexpr qint64 kExpansionCountLimit = qint64{1} << 48;

}  // namespace tk
