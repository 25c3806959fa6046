#include "expr/computed_channels.h"

#include <QRegularExpression>

#include "expr/ecu_definition_view.h"
#include "expr/expression_evaluator.h"
#include "expr/expression_host.h"
#include "expr/expression_state.h"

namespace tk::expr {

// The definition as the engine sees it here, without named expressions: a computed channel
// named in an expression is a variable whose value was computed earlier in the same snapshot,
// so that each expression is evaluated once per snapshot and a cycle cannot recurse.
class ComputedChannels::View : public DefinitionView {
 public:
  explicit View(const EcuDefinition& definition) : full_(definition) {}
  const QString* namedExpression(const QString& /*name*/) const override { return nullptr; }
  std::optional<ChannelAttributes> channelAtOffset(int offset) const override {
    return full_.channelAtOffset(offset);
  }
  std::optional<double> arrayElement(const QString& name, int index) const override {
    return full_.arrayElement(name, index);
  }

 private:
  EcuDefinitionView full_;
};

class ComputedChannels::Host : public ExpressionHost {
 public:
  explicit Host(const ComputedChannels& owner) : owner_(owner) {}
  double getValue(const QString& name) const override {
    if (const auto it = owner_.current_.constFind(name); it != owner_.current_.cend()) {
      return it.value();
    }
    return owner_.constants_ ? owner_.constants_(name).value_or(0.0) : 0.0;
  }
  const DefinitionView* definition() const override { return owner_.view_.get(); }
  bool isOnline() const override { return true; }

 private:
  const ComputedChannels& owner_;
};

ComputedChannels::ComputedChannels(const EcuDefinition& definition, ConstantLookup constants)
    : definition_(definition),
      constants_(std::move(constants)),
      view_(std::make_unique<View>(definition)),
      evaluator_(std::make_unique<ExpressionEvaluator>()),
      state_(std::make_unique<ExpressionState>()) {
  sortByReferences();
}

ComputedChannels::~ComputedChannels() = default;

void ComputedChannels::sortByReferences() {
  // Names an expression refers to: words as the tokenizer forms them; those that are computed
  // channels are the edges.
  static const QRegularExpression word(QStringLiteral("[A-Za-z_][A-Za-z0-9_.]*"));
  QStringList computed;
  QSet<QString> isComputed;
  for (const auto& [name, channel] : definition_.OutputChannels) {
    if (channel.Expression) {
      computed.append(name);
      isComputed.insert(name);
    }
  }
  QHash<QString, QStringList> references;
  for (const auto& [name, channel] : definition_.OutputChannels) {
    if (!channel.Expression) {
      continue;
    }
    QStringList& refs = references[name];
    auto it = word.globalMatch(*channel.Expression);
    while (it.hasNext()) {
      const QString ref = it.next().captured();
      if (isComputed.contains(ref) && !refs.contains(ref)) {
        refs.append(ref);
      }
    }
  }
  // Depth-first, iteratively (definitions are untrusted input): a channel is placed after all
  // it refers to; meeting a channel still being visited closes a cycle, whose members are marked.
  enum class Mark { None, Visiting, Done };
  QHash<QString, Mark> marks;
  for (const QString& root : std::as_const(computed)) {
    if (marks.value(root, Mark::None) != Mark::None) {
      continue;
    }
    std::vector<std::pair<QString, qsizetype>> stack{{root, 0}};
    marks.insert(root, Mark::Visiting);
    while (!stack.empty()) {
      auto& [name, next] = stack.back();
      const QStringList& refs = *references.constFind(name);
      if (next < refs.size()) {
        const QString ref = refs.at(next++);
        const Mark mark = marks.value(ref, Mark::None);
        if (mark == Mark::None) {
          marks.insert(ref, Mark::Visiting);
          stack.emplace_back(ref, 0);
        } else if (mark == Mark::Visiting) {
          for (auto member = stack.rbegin(); member != stack.rend(); ++member) {
            cyclic_.insert(member->first);
            if (member->first == ref) {
              break;
            }
          }
        }
        continue;
      }
      marks.insert(name, Mark::Done);
      order_.append(name);
      stack.pop_back();
    }
  }
}

ComputedChannels::Values ComputedChannels::complete(const Values& declared) {
  current_.clear();
  for (const auto& [name, value] : declared) {
    current_.insert(name, value);
  }
  state_->setLogTime(static_cast<double>(state_->elapsedMs()) / 1000.0);
  const Host host(*this);
  for (const QString& name : std::as_const(order_)) {
    const ConstantDef* channel = definition_.OutputChannels.find(name);
    const double value = cyclic_.contains(name) || channel == nullptr || !channel->Expression
                             ? 0.0
                             : evaluator_->evaluate(*channel->Expression, host, state_.get());
    current_.insert(name, value);
  }
  Values all;
  all.reserve(current_.size());
  for (const auto& [name, channel] : definition_.OutputChannels) {
    if (const auto it = current_.constFind(name); it != current_.cend()) {
      all.append({name, it.value()});
    }
  }
  for (const auto& [name, value] : std::as_const(all)) {
    state_->record(name, value);
  }
  return all;
}

}  // namespace tk::expr
