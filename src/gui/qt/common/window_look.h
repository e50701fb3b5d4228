// The top-level window's frame and look: dialog-style fixed-size frame without minimise
// or maximise box, client size, initial position, font and button-face background.
#pragma once

#include "ui/controls.h"

#include <QFont>
#include <QWidget>

namespace gui_qt {

// The model's font when it is installed, else the nearest sans-serif face, at the
// model's point size.
QFont WindowFont(const ui::Window& model);

void ApplyWindowLook(const ui::Window& model, QWidget& window);

}  // namespace gui_qt
