#include "formats/msq_text.h"

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

}  // namespace

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
