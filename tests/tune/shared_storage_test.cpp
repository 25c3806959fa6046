#include <gtest/gtest.h>

#include <random>

#include "definition/ini_parser.h"
#include "support/test_support.h"
#include "tune/field_codec.h"
#include "tune/raw_codec.h"
#include "tune/tune_editor.h"

namespace tk {
namespace {

// Real definitions declare constants over the same bytes (a bit field inside an array element,
// two scalars at one offset, an array over a run of scalars). Whatever is stored, the page must
// hold the stored element's bytes and every constant over them must read those bytes back.
class SharedStorageTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const QString path = test::corpusDir() + QStringLiteral("/ini/") + QLatin1String(GetParam());
    const QByteArray bytes = test::readFile(path);
    if (bytes.isEmpty()) {
      GTEST_SKIP() << "corpus definition not found: " << GetParam();
    }
    definition_ = IniParser().parseBytes(bytes, QString());
    bigEndian_ = definition_.isBigEndian();
  }

  // Random page bytes of a controller, with every F32 element made finite (a controller holds
  // numbers there, and a NaN could not be stored back).
  PageImages randomImages(std::mt19937& random) const {
    PageImages images = encodeTune(Tune(), definition_);
    for (QByteArray& page : images) {
      for (char& byte : page) {
        byte = static_cast<char>(random() & 0xFF);
      }
    }
    for (const PageGroup& group : definition_.Pages) {
      auto page = images.find(group.PageNumber);
      for (const ConstantDef& c : group.Fields) {
        if (page == images.end() || c.IsPcVariable || c.DataType.toUpper() != u"F32") {
          continue;
        }
        for (qint64 at = c.Offset; at < c.Offset + storageSize(c) && at + 4 <= page->size();
             at += 4) {
          const int high = bigEndian_ ? static_cast<int>(at) : static_cast<int>(at) + 3;
          (*page)[high] = static_cast<char>((*page)[high] & 0x3F);
        }
      }
    }
    return images;
  }

  // Bits of page that some constant covers. A constant whose scale is 0 (a malformed line of a
  // real definition) reads every raw value alike, so its bytes cannot come back.
  QByteArray coverage(const TuneEditor& editor, int pageNumber, qsizetype size) const {
    QByteArray mask(size, '\0');
    for (const PageGroup& group : definition_.Pages) {
      for (const ConstantDef& c : group.Fields) {
        if (group.PageNumber != pageNumber || c.IsPcVariable || c.Offset >= size ||
            (c.Type != ConstantType::Bits && editor.effectiveScale(c) == 0)) {
          continue;
        }
        const qint64 width = c.Type == ConstantType::Bits ? elementSize(c) : storageSize(c);
        for (qint64 i = 0; i < width && c.Offset + i < size; ++i) {
          int bits = 0xFF;
          if (c.Type == ConstantType::Bits) {
            // Byte i holds bits 8*j .. 8*j+7 of the field's word, j counted from the low end.
            const qint64 j = bigEndian_ ? width - 1 - i : i;
            bits = 0;
            for (int b = 0; b < 8; ++b) {
              const qint64 bit = j * 8 + b;
              bits |= (bit >= c.BitStart && bit <= c.BitEnd) ? 1 << b : 0;
            }
          }
          mask[c.Offset + i] = static_cast<char>(mask.at(c.Offset + i) | bits);
        }
      }
    }
    return mask;
  }

  // Constants of page number other than constant whose storage overlaps [start, end).
  QList<const ConstantDef*> sharing(const ConstantDef& constant, int pageNumber, qint64 start,
                                    qint64 end) const {
    QList<const ConstantDef*> found;
    for (const PageGroup& group : definition_.Pages) {
      for (const ConstantDef& c : group.Fields) {
        if (group.PageNumber == pageNumber && &c != &constant && !c.IsPcVariable &&
            c.Offset < end && start < c.Offset + storageSize(c)) {
          found.append(&c);
        }
      }
    }
    return found;
  }

  // True when the scale or translate of one of constants names one of them: a store there
  // changes how the shared bytes read (MS3's log_rate reads its own bytes through log_int).
  static bool circular(const QList<const ConstantDef*>& constants) {
    for (const ConstantDef* c : constants) {
      const QString text = c->ScaleExpression.value_or(QString()) + u' ' +
                           c->TranslateExpression.value_or(QString());
      for (const ConstantDef* named : constants) {
        if (text.contains(named->Name, Qt::CaseInsensitive)) {
          return true;
        }
      }
    }
    return false;
  }

  EcuDefinition definition_;
  bool bigEndian_ = false;
};

TEST_P(SharedStorageTest, StoredElementWinsAndEveryAliasReadsItBack) {
  std::mt19937 random(20261206);
  const PageImages read = randomImages(random);
  TuneEditor editor(definition_, decodePages(read, definition_));

  // A tune read from a controller and written back is identical on every covered bit.
  const PageImages written = editor.pageImages();
  for (auto page = read.cbegin(); page != read.cend(); ++page) {
    const QByteArray mask = coverage(editor, page.key(), page->size());
    const QByteArray& out = written.value(page.key());
    for (qsizetype i = 0; i < page->size(); ++i) {
      ASSERT_EQ((page->at(i) ^ out.at(i)) & mask.at(i), 0)
          << "page " << page.key() << " byte " << i;
    }
  }

  // Every constant with an element over bytes another constant covers: the first such element.
  struct Store {
    const ConstantDef* constant;
    int pageNumber;
    int index;
    qint64 at;
  };
  QList<Store> stores;
  for (const PageGroup& group : definition_.Pages) {
    const qsizetype size = read.value(group.PageNumber).size();
    for (const ConstantDef& c : group.Fields) {
      const int width = elementSize(c);
      if (c.IsPcVariable || c.Type == ConstantType::String || width < 1 ||
          c.Offset + width > size || editor.effectiveScale(c) == 0 ||
          sharing(c, group.PageNumber, c.Offset, c.Offset + storageSize(c)).isEmpty()) {
        continue;
      }
      const int count = c.Type == ConstantType::Array ? elementCount(c) : 1;
      for (int i = 0; i < count; ++i) {
        const qint64 at = c.Offset + qint64{i} * (c.Type == ConstantType::Bits ? 0 : width);
        QList<const ConstantDef*> involved = sharing(c, group.PageNumber, at, at + width);
        if (!involved.isEmpty() && at + width <= size) {
          involved.append(&c);
          if (!circular(involved)) {
            stores.append(Store{&c, group.PageNumber, i, at});
          }
          break;
        }
      }
    }
  }

  // At most about 100 of them, spread over the pages: each store rebuilds every page.
  const qsizetype stride = std::max<qsizetype>(1, stores.size() / 100);
  for (qsizetype n = 0; n < stores.size(); n += stride) {
    const ConstantDef& c = *stores.at(n).constant;
    const int pageNumber = stores.at(n).pageNumber;
    const int index = stores.at(n).index;
    const qint64 at = stores.at(n).at;
    const int width = elementSize(c);
    // A value the element can hold: what fresh random bytes there decode to.
    QByteArray fresh = editor.pageImages().value(pageNumber);
    for (int i = 0; i < width; ++i) {
      fresh[at + i] = static_cast<char>(random() & 0x3F);
    }
    const std::optional<TuneValue> value = decodeConstant(
        c, fresh, bigEndian_, editor.effectiveScale(c), editor.effectiveTranslate(c));
    ASSERT_TRUE(value.has_value());
    const double v = c.Type == ConstantType::Bits    ? *value->bitsRawValue
                     : c.Type == ConstantType::Array ? value->arrayValues->at(index)
                                                     : *value->scalarValue;
    editor.setValue(c.Name, index, v);

    const QByteArray page = editor.pageImages().value(pageNumber);
    QByteArray again = page;
    encodeConstant(c, *editor.tune()->find(c.Name), again, bigEndian_, editor.effectiveScale(c),
                   editor.effectiveTranslate(c));
    ASSERT_EQ(again.mid(at, width).toHex(), page.mid(at, width).toHex())
        << c.Name.toStdString() << '[' << index << "] lost its bytes";
    for (const ConstantDef* other : sharing(c, pageNumber, at, at + width)) {
      std::optional<TuneValue> back =
          decodeConstant(*other, page, bigEndian_, editor.effectiveScale(*other),
                         editor.effectiveTranslate(*other));
      TuneValue held = *editor.tune()->find(other->Name);
      held.units = back->units;
      held.digits = back->digits;
      ASSERT_EQ(held, *back) << other->Name.toStdString() << " after storing "
                             << c.Name.toStdString() << '[' << index << ']';
    }
  }
  if (QLatin1String(GetParam()).startsWith(QLatin1String("speeduino-2025"))) {
    EXPECT_GT(stores.size(), 10) << "the definition is known to share bytes between constants";
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, SharedStorageTest,
                         ::testing::Values("speeduino-202501.ini", "speeduino-202504dev.ini",
                                           "speeduino-202008.ini", "ms3-0569-1.5.2.ini",
                                           "rusefi-mega100-20241027.ini"));

}  // namespace
}  // namespace tk
