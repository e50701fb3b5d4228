// Keyboard order of a window: siblings by their tab order, a container's controls right
// after the container, controls that take no focus left out.
#pragma once

#include "ui/controls.h"

#include <QWidget>

#include <functional>
#include <vector>

namespace gui_qt {

using WidgetOf = std::function<QWidget*(const ui::Control&)>;

// The focusable widgets of `root`'s tree in keyboard order.
std::vector<QWidget*> TabChain(const ui::Control& root, const WidgetOf& widgetOf);

void ApplyTabOrder(const ui::Control& root, const WidgetOf& widgetOf);

}  // namespace gui_qt
