#include "expr/record_condition.h"

#include <QHash>
#include <memory>

#include "expr/expression_evaluator.h"
#include "expr/expression_host.h"

namespace tk::expr {
namespace {

class RecordHost : public ExpressionHost {
 public:
  RecordHost(QStringList columns, std::function<QString(const QString&)> labelOf)
      : columns_(std::move(columns)), labelOf_(std::move(labelOf)) {}

  double getValue(const QString& name) const override {
    auto it = columnOf_.constFind(name);
    if (it == columnOf_.cend()) {
      it = columnOf_.insert(name, find(name));
    }
    return it.value() < 0 || static_cast<std::size_t>(it.value()) >= record_.size()
               ? 0.0
               : record_[static_cast<std::size_t>(it.value())];
  }
  const DefinitionView* definition() const override { return nullptr; }
  bool isOnline() const override { return false; }

  void setRecord(std::span<const double> record) { record_ = record; }

 private:
  int find(const QString& name) const {
    const QString label = labelOf_ ? labelOf_(name) : QString();
    for (const QString& wanted : {label, name}) {
      for (qsizetype i = 0; !wanted.isEmpty() && i < columns_.size(); ++i) {
        if (columns_.at(i).compare(wanted, Qt::CaseInsensitive) == 0) {
          return static_cast<int>(i);
        }
      }
    }
    return -1;
  }

  QStringList columns_;
  std::function<QString(const QString&)> labelOf_;
  mutable QHash<QString, int> columnOf_;
  std::span<const double> record_;
};

}  // namespace

RecordCondition recordCondition(const QString& text, const QStringList& columns,
                                const std::function<QString(const QString&)>& labelOf) {
  auto host = std::make_shared<RecordHost>(columns, labelOf);
  auto evaluator = std::make_shared<ExpressionEvaluator>();
  return [text, host, evaluator](std::span<const double> values) {
    host->setRecord(values);
    return evaluator->evaluateCondition(text, *host);
  };
}

}  // namespace tk::expr
