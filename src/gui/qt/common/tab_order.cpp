#include "common/tab_order.h"

#include <algorithm>

namespace gui_qt {
namespace {

void Collect(const ui::Control& parent, const WidgetOf& widgetOf, std::vector<QWidget*>& chain) {
  std::vector<const ui::Control*> children(parent.Children().begin(), parent.Children().end());
  // Controls without a tab order (-1) come last, in creation order.
  std::stable_sort(children.begin(), children.end(),
                   [](const auto* a, const auto* b) { return ui::TabOrderBefore(*a, *b); });
  for (const ui::Control* child : children) {
    QWidget* widget = widgetOf(*child);
    if (!widget) continue;
    if (widget->focusPolicy() & Qt::TabFocus) chain.push_back(widget);
    Collect(*child, widgetOf, chain);
  }
}

}  // namespace

std::vector<QWidget*> TabChain(const ui::Control& root, const WidgetOf& widgetOf) {
  std::vector<QWidget*> chain;
  Collect(root, widgetOf, chain);
  return chain;
}

void ApplyTabOrder(const ui::Control& root, const WidgetOf& widgetOf) {
  const std::vector<QWidget*> chain = TabChain(root, widgetOf);
  for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

}  // namespace gui_qt
