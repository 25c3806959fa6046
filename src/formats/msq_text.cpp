#include "formats/msq_text.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

#include "formats/msq_document.h"

namespace tk {
namespace {

QString decodeUtf16(const QByteArray& bytes, QStringDecoder::Encoding encoding) {
  QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
  return decoder.decode(QByteArrayView(bytes).sliced(2));
}

// Index just past the end of a construct that starts at from and ends with terminator; the end
// of the text when the construct is not closed.
qsizetype pastTerminator(const QString& text, qsizetype from, QLatin1String terminator) {
  const qsizetype at = text.indexOf(terminator, from);
  return at < 0 ? text.size() : at + terminator.size();
}

// Index just past a declaration ("<!DOCTYPE ...>" with its internal subset, "<!ENTITY ...>"):
// the first '>' outside quotes and outside square brackets.
qsizetype pastDeclaration(const QString& text, qsizetype from) {
  int bracketDepth = 0;
  QChar quote;
  for (qsizetype i = from; i < text.size(); ++i) {
    const QChar c = text[i];
    if (!quote.isNull()) {
      if (c == quote) {
        quote = QChar();
      }
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'[') {
      ++bracketDepth;
    } else if (c == u']') {
      bracketDepth = std::max(0, bracketDepth - 1);
    } else if (c == u'>' && bracketDepth == 0) {
      return i + 1;
    }
  }
  return text.size();
}

bool isEntityNameChar(QChar c) {
  return c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'.' || c == u':';
}

// The name of the general entity referenced at text[at] ('&'), with end set past its ';'; empty
// for character references, the predefined entities and a '&' that starts no reference.
QStringView referencedEntity(QStringView text, qsizetype at, qsizetype& end) {
  qsizetype i = at + 1;
  while (i < text.size() && isEntityNameChar(text[i])) {
    ++i;
  }
  if (i == at + 1 || i >= text.size() || text[i] != u';') {
    return {};
  }
  end = i + 1;
  const QStringView name = text.sliced(at + 1, i - at - 1);
  for (const char* predefined : {"lt", "gt", "amp", "apos", "quot"}) {
    if (name == QLatin1String(predefined)) {
      return {};
    }
  }
  return name;
}

// The quoted values of "<!ENTITY name ...>" declarations, the first one of a name winning as in
// XML. Parameter entities and external ones add no text to the content.
QHash<QStringView, QStringView> internalEntities(QStringView xml) {
  QHash<QStringView, QStringView> entities;
  const QLatin1String keyword("<!ENTITY");
  const auto skipBlanks = [&](qsizetype& at) {
    while (at < xml.size() && xml[at].isSpace()) {
      ++at;
    }
  };
  for (qsizetype at = xml.indexOf(keyword); at >= 0; at = xml.indexOf(keyword, at)) {
    at += keyword.size();
    skipBlanks(at);
    const qsizetype nameStart = at;
    while (at < xml.size() && isEntityNameChar(xml[at])) {
      ++at;
    }
    const QStringView name = xml.sliced(nameStart, at - nameStart);
    skipBlanks(at);
    if (name.isEmpty() || at >= xml.size() || (xml[at] != u'"' && xml[at] != u'\'')) {
      continue;
    }
    const qsizetype close = xml.indexOf(xml[at], at + 1);
    if (close < 0) {
      break;
    }
    if (!entities.contains(name)) {
      entities.insert(name, xml.sliced(at + 1, close - at - 1));
    }
    at = close + 1;
  }
  return entities;
}

// Expanded lengths, each entity's computed once. A reference to an entity being expanded (which
// the parser refuses) and references nested too deeply count as the largest length.
class EntityLengths {
 public:
  explicit EntityLengths(QStringView xml) : entities_(internalEntities(xml)) {}

  qint64 expanded(QStringView text) {
    qint64 length = 0;
    for (qsizetype i = 0; i < text.size() && length < kExpansionCountLimit;) {
      qsizetype end = i + 1;
      const QStringView name = text[i] == u'&' ? referencedEntity(text, i, end) : QStringView();
      const auto value = entities_.constFind(name);
      if (name.isEmpty() || value == entities_.cend()) {
        ++length;
        ++i;
        continue;
      }
      length += entityLength(name, *value);
      i = end;
    }
    return std::min(length, kExpansionCountLimit);
  }

 private:
  static constexpr qsizetype kMaxNesting = 64;

  qint64 entityLength(QStringView name, QStringView value) {
    if (const auto known = lengths_.constFind(name); known != lengths_.cend()) {
      return *known;
    }
    if (active_.contains(name) || active_.size() >= kMaxNesting) {
      return kExpansionCountLimit;
    }
    active_.append(name);
    const qint64 length = expanded(value);
    active_.removeLast();
    lengths_.insert(name, length);
    return length;
  }

  QHash<QStringView, QStringView> entities_;
  QHash<QStringView, qint64> lengths_;
  QList<QStringView> active_;
};

}  // namespace

qint64 expandedEntityLength(QStringView xml) {
  if (!xml.contains(QLatin1String("<!ENTITY"))) {
    return xml.size();
  }
  return EntityLengths(xml).expanded(xml);
}

QString decodeMsqBytes(const QByteArray& bytes) {
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    return QString::fromUtf8(QByteArrayView(bytes).sliced(3));
  }
  if (bytes.startsWith("\xFF\xFE")) {
    return decodeUtf16(bytes, QStringDecoder::Utf16LE);
  }
  if (bytes.startsWith("\xFE\xFF")) {
    return decodeUtf16(bytes, QStringDecoder::Utf16BE);
  }
  const QString head =
      QString::fromLatin1(QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 256)));
  const qsizetype declStart = head.indexOf(QLatin1String("<?xml"));
  const qsizetype declEnd = declStart < 0 ? -1 : head.indexOf(QLatin1String("?>"), declStart);
  if (declEnd >= 0) {
    static const QRegularExpression encodingPattern(
        QStringLiteral("encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
    const QRegularExpressionMatch match =
        encodingPattern.match(QStringView(head).sliced(declStart, declEnd - declStart));
    if (match.hasMatch()) {
      const QString name = match.captured(1);
      const QString lower = name.toLower();
      if (lower == QLatin1String("iso-8859-1") || lower == QLatin1String("iso8859-1") ||
          lower == QLatin1String("latin-1") || lower == QLatin1String("latin1")) {
        return QString::fromLatin1(bytes);
      }
      if (lower != QLatin1String("utf-8") && lower != QLatin1String("ascii") &&
          lower != QLatin1String("us-ascii")) {
        throw MsqError("MSQ: unsupported XML encoding '" + name.toStdString() + "'");
      }
    }
  }
  return QString::fromUtf8(bytes);
}

QString protectAttributeWhitespace(const QString& xml) {
  // Copies only when something is replaced; most files have no such characters and are
  // returned as they are (shared, not copied).
  const char16_t* data = reinterpret_cast<const char16_t*>(xml.constData());
  const qsizetype n = xml.size();
  QString out;
  qsizetype copied = 0;
  const auto replace = [&](qsizetype at, char16_t c) {
    if (copied == 0) {
      out.reserve(n + n / 16);
    }
    out.append(QStringView(data + copied, at - copied));
    out.append(c == u'\r'   ? QLatin1String("&#xD;")
               : c == u'\n' ? QLatin1String("&#xA;")
                            : QLatin1String("&#x9;"));
    copied = at + 1;
  };
  qsizetype i = 0;
  while (i < n) {
    const qsizetype open = xml.indexOf(u'<', i);
    if (open < 0) {
      break;
    }
    const QStringView rest = QStringView(xml).sliced(open);
    if (rest.startsWith(QLatin1String("<!--"))) {
      i = pastTerminator(xml, open + 4, QLatin1String("-->"));
    } else if (rest.startsWith(QLatin1String("<![CDATA["))) {
      i = pastTerminator(xml, open + 9, QLatin1String("]]>"));
    } else if (rest.startsWith(QLatin1String("<?"))) {
      i = pastTerminator(xml, open + 2, QLatin1String("?>"));
    } else if (rest.startsWith(QLatin1String("<!"))) {
      i = pastDeclaration(xml, open + 2);
    } else {
      // A tag, up to its closing '>' outside quotes.
      i = open + 1;
      char16_t quote = 0;
      while (i < n) {
        const char16_t c = data[i++];
        if (quote == u'"' && (c == u'\r' || c == u'\n' || c == u'\t')) {
          replace(i - 1, c);
        } else if (quote != 0) {
          if (c == quote) {
            quote = 0;
          }
        } else if (c == u'"' || c == u'\'') {
          quote = c;
        } else if (c == u'>') {
          break;
        }
      }
    }
  }
  if (copied == 0) {
    return xml;
  }
  out.append(QStringView(data + copied, n - copied));
  return out;
}

}  // namespace tk
